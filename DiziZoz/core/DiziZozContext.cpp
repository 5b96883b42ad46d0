#include "DiziZoz/core/DiziZozContext.h"

#include <array>
#include <string>
#include <utility>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozReachabilityMonitoring.h"
#include "DiziZoz/core/Versions.h"
#include "platform/AppNotifications.h"
#include "platform/HostFacts.h"
#include "platform/KeyWindowScreen.h"
#include "platform/MainExecutor.h"

namespace dizizoz {

namespace {

constexpr std::string_view osName = "Linux";
constexpr std::string_view deviceType = "Desktop";

constexpr std::array<std::string_view, 6> personPropertyKeys{
    "$app_version", "$app_build", "$app_namespace", "$os_name", "$os_version", "$device_type",
};

}  // namespace

DiziZozContext::DiziZozContext(Sources sources) : sources_(std::move(sources)) {}

const Properties& DiziZozContext::staticContext() {
  std::call_once(staticOnce_, [this] {
    Properties context = Properties::object();
    const DiziZozBundleInfo& bundle = sources_.bundle;
    if (bundle.name) context["$app_name"] = *bundle.name;
    if (bundle.shortVersion) context["$app_version"] = *bundle.shortVersion;
    if (bundle.build) context["$app_build"] = parseBundleVersion(*bundle.build);
    // This platform has no test-flight builds, side-loading or phone applications running on a desktop.
    context["$is_testflight"] = false;
    context["$is_sideloaded"] = false;
    context["$app_namespace"] = bundle.identifier.value_or(unknownBundleIdentifier);
    const auto& host = *sources_.hostFacts;
    if (auto maker = host.manufacturer()) context["$device_manufacturer"] = *maker;
    context["$device_model"] = host.machine();
    context["$device_type"] = deviceType;
    context["$is_emulator"] = false;
    context["$is_ios_running_on_mac"] = false;
    context["$is_mac_catalyst_app"] = false;
    if (auto product = host.productName()) context["$device_name"] = *product;
    context["$os_name"] = osName;
    context["$os_version"] = osVersionString();
    theStaticContext_ = std::move(context);
  });
  return theStaticContext_;
}

const Properties& DiziZozContext::sdkInfo() {
  std::call_once(sdkOnce_, [this] {
    theSdkInfo_ = Properties{{"$lib", diziZozSdkName}, {"$lib_version", diziZozVersion}};
  });
  return theSdkInfo_;
}

const Properties& DiziZozContext::personPropertiesContext() {
  std::call_once(personOnce_, [this] {
    const Properties& context = staticContext();
    Properties person = Properties::object();
    for (std::string_view key : personPropertyKeys) {
      if (auto entry = context.find(key); entry != context.end()) person[std::string(key)] = *entry;
    }
    for (const auto& [key, value] : sdkInfo().items()) person[key] = value;
    thePersonPropertiesContext_ = std::move(person);
  });
  return thePersonPropertiesContext_;
}

Properties DiziZozContext::dynamicContext() {
  Properties context = Properties::object();
  if (auto size = screenSize()) {
    // Sent in single precision, as the service has always received them.
    context["$screen_width"] = static_cast<float>(size->width);
    context["$screen_height"] = static_cast<float>(size->height);
  }
  const auto& host = *sources_.hostFacts;
  if (auto language = host.localeLanguage()) context["$locale"] = *language;
  context["$timezone"] = timeZone();
  if (sources_.reachability) {
    context["$network_wifi"] = sources_.reachability->connection() == DiziZozConnection::wifi;
    context["$network_cellular"] = false;
  }
  return context;
}

std::string DiziZozContext::timeZone() {
  {
    std::lock_guard lock(timeZoneLock_);
    if (timeZone_) return *timeZone_;
  }
  // Read outside the lock: a capture on another thread meanwhile reads it too, and either answer is
  // today's zone. A refresh meanwhile wins: its session reads the zone afresh.
  std::string zone = sources_.hostFacts->timeZone();
  std::lock_guard lock(timeZoneLock_);
  if (!timeZone_) timeZone_ = zone;
  return zone;
}

void DiziZozContext::refreshTimeZone() {
  std::lock_guard lock(timeZoneLock_);
  timeZone_.reset();
}

void DiziZozContext::registerNotifications() {
  namespace names = platform::notifications;
  std::weak_ptr<DiziZozContext> weakSelf = weak_from_this();
  std::vector<platform::NotificationCenter::Token> tokens;
  for (std::string_view name :
       {names::windowDidBecomeKey, names::windowDidChangeScreen, names::applicationDidBecomeActive}) {
    tokens.push_back(sources_.notificationCenter->addObserver(std::string(name), [weakSelf](const auto&) {
      if (auto self = weakSelf.lock()) self->onShouldUpdateScreenSize();
    }));
  }
  std::lock_guard lock(observationsLock_);
  observations_ = std::move(tokens);
}

void DiziZozContext::unregisterNotifications() {
  std::vector<platform::NotificationCenter::Token> tokens;
  {
    std::lock_guard lock(observationsLock_);
    tokens = std::move(observations_);
  }
}

void DiziZozContext::onShouldUpdateScreenSize() {
  if (sources_.mainExecutor->isMainThread()) {
    measureScreenSize();
    return;
  }
  std::weak_ptr<DiziZozContext> weakSelf = weak_from_this();
  sources_.mainExecutor->post([weakSelf] {
    if (auto self = weakSelf.lock()) self->measureScreenSize();
  });
}

void DiziZozContext::measureScreenSize() {
  std::optional<platform::Size> size;
  if (sources_.keyWindowScreen) size = sources_.keyWindowScreen->keyWindowScreenSize();
  std::lock_guard lock(screenSizeLock_);
  screenSize_ = size;
}

std::optional<platform::Size> DiziZozContext::screenSize() const {
  std::lock_guard lock(screenSizeLock_);
  return screenSize_;
}

std::string macModelToFriendlyName(std::string_view model) {
  if (model.empty()) return "Mac";
  if (model.starts_with("MacBookAir")) return "MacBook Air";
  if (model.starts_with("MacBookPro")) return "MacBook Pro";
  if (model.starts_with("MacBook")) return "MacBook";
  if (model.starts_with("Macmini")) return "Mac mini";
  if (model.starts_with("MacPro")) return "Mac Pro";
  if (model.starts_with("MacStudio") || model.starts_with("Mac13")) return "Mac Studio";
  if (model.starts_with("iMac")) return "iMac";
  if (model.starts_with("Mac")) {
    for (std::string_view air : {"Mac14,2", "Mac14,15", "Mac15,3", "Mac15,6", "Mac15,7"}) {
      if (model.starts_with(air)) return "MacBook Air";
    }
    if (model.starts_with("Mac14") || model.starts_with("Mac15")) return "MacBook Pro";
    return "Mac";
  }
  if (model.starts_with("VirtualMac")) return "Mac (Virtual)";
  return "Mac";
}

}  // namespace dizizoz
