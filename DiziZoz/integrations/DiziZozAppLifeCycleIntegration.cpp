#include "DiziZoz/integrations/DiziZozAppLifeCycleIntegration.h"

#include <atomic>
#include <optional>
#include <string>
#include <utility>

#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/Versions.h"
#include "platform/UserDefaults.h"

namespace dizizoz {
namespace {

constexpr const char* installedEvent = "Application Installed";
constexpr const char* updatedEvent = "Application Updated";
constexpr const char* openedEvent = "Application Opened";
constexpr const char* backgroundedEvent = "Application Backgrounded";

// Process-wide: one install/update check per process, whichever client or notification comes first.
std::atomic<bool> didCaptureAppInstallOrUpdate{false};

}  // namespace

DiziZozAppLifeCycleIntegration::DiziZozAppLifeCycleIntegration(
    std::shared_ptr<platform::UserDefaults> userDefaults)
    : DiziZozAppLifeCycleIntegration(std::move(userDefaults), DI::main().appLifecyclePublisher()) {}

DiziZozAppLifeCycleIntegration::DiziZozAppLifeCycleIntegration(
    std::shared_ptr<platform::UserDefaults> userDefaults, AppLifecyclePublishing& publisher)
    : userDefaults_(std::move(userDefaults)), publisher_(publisher) {}

DiziZozIntegrationInstallResult DiziZozAppLifeCycleIntegration::install(DiziZozSDK& client) {
  const auto result = installGuarded(client);
  if (result.isInstalled()) captureAppInstallOrUpdated();
  return result;
}

void DiziZozAppLifeCycleIntegration::start(DiziZozSDK&) {
  const std::weak_ptr<DiziZozAppLifeCycleIntegration> weakSelf = weak_from_this();
  didFinishLaunchingToken_ = publisher_.onDidFinishLaunching().subscribe([weakSelf] {
    if (auto self = weakSelf.lock()) self->captureAppInstallOrUpdated();
  });
  didBecomeActiveToken_ = publisher_.onDidBecomeActive().subscribe([weakSelf] {
    if (auto self = weakSelf.lock()) self->captureAppOpened();
  });
  didEnterBackgroundToken_ = publisher_.onDidEnterBackground().subscribe([weakSelf] {
    if (auto self = weakSelf.lock()) self->captureAppBackgrounded();
  });
}

void DiziZozAppLifeCycleIntegration::stop() {
  didBecomeActiveToken_.release();
  didEnterBackgroundToken_.release();
  didFinishLaunchingToken_.release();
}

void DiziZozAppLifeCycleIntegration::captureAppInstallOrUpdated() {
  const auto client = diziZoz();
  if (!client) return;
  // Used up before the option is read: a run with the option off has had its check too.
  if (didCaptureAppInstallOrUpdate.exchange(true)) return;
  const auto config = client->config();
  if (!config->captureApplicationLifecycleEvents) {
    hedgeLog(
        "[DiziZoz] Skipping Application Installed/Application Updated event - "
        "captureApplicationLifecycleEvents "
        "is disabled in configuration");
    return;
  }

  const auto& currentVersion = config->bundle().shortVersion;
  const auto& currentBuild = config->bundle().build;
  const auto previousVersion = userDefaults_->stringForKey(versionKey);
  const auto previousBuild = userDefaults_->stringForKey(buildKey);

  Properties properties = Properties::object();
  std::string event;
  if (!previousBuild) {
    event = installedEvent;
  } else if (currentBuild && *currentBuild == *previousBuild) {
    return;
  } else {
    event = updatedEvent;
    if (previousVersion) properties["previous_version"] = *previousVersion;
    properties["previous_build"] = parseBundleVersion(*previousBuild);
  }

  if (currentVersion) {
    properties["version"] = *currentVersion;
    userDefaults_->set(versionKey, *currentVersion);
  }
  if (currentBuild) {
    properties["build"] = parseBundleVersion(*currentBuild);
    userDefaults_->set(buildKey, *currentBuild);
  }
  if (currentVersion || currentBuild) userDefaults_->synchronize();

  client->capture(event, {.properties = std::move(properties)});
}

void DiziZozAppLifeCycleIntegration::captureAppOpened() {
  const auto client = diziZoz();
  if (!client) return;
  if (!isAppBackgrounded_) {
    hedgeLog("[DiziZoz] Skipping Application Opened event - app already in foreground");
    return;
  }
  isAppBackgrounded_ = false;
  const auto config = client->config();
  if (!config->captureApplicationLifecycleEvents) {
    hedgeLog(
        "[DiziZoz] Skipping Application Opened event - captureApplicationLifecycleEvents is disabled in "
        "configuration");
    return;
  }

  Properties properties = Properties::object();
  properties["from_background"] = !isFreshAppLaunch_;
  if (isFreshAppLaunch_) {
    if (const auto& version = config->bundle().shortVersion) properties["version"] = *version;
    if (const auto& build = config->bundle().build) properties["build"] = parseBundleVersion(*build);
    isFreshAppLaunch_ = false;
  }
  client->capture(openedEvent, {.properties = std::move(properties)});
}

void DiziZozAppLifeCycleIntegration::captureAppBackgrounded() {
  const auto client = diziZoz();
  if (!client) return;
  if (isAppBackgrounded_) {
    hedgeLog("[DiziZoz] Skipping Application Backgrounded event - app already in background");
    return;
  }
  isAppBackgrounded_ = true;
  if (!client->config()->captureApplicationLifecycleEvents) {
    hedgeLog(
        "[DiziZoz] Skipping Application Backgrounded event - captureApplicationLifecycleEvents is disabled "
        "in configuration");
    return;
  }
  client->capture(backgroundedEvent);
}

void DiziZozAppLifeCycleIntegration::resetInstallOrUpdateCheckForTesting() {
  didCaptureAppInstallOrUpdate.store(false);
}

}  // namespace dizizoz
