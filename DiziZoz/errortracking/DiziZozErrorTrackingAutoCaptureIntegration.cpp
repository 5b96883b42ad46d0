#include "DiziZoz/errortracking/DiziZozErrorTrackingAutoCaptureIntegration.h"

#include <utility>

#include "DZCrashReporter/DZCrashReporter.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozReplayQueueing.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/ExceptionListMatching.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/delivery/DiziZozRemoteConfig.h"
#include "DiziZoz/errortracking/DiziZozCrashCustomDataWriter.h"
#include "DiziZoz/errortracking/DiziZozCrashReportProcessor.h"
#include "DiziZoz/errortracking/DiziZozDebugUtils.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

constexpr std::string_view exceptionEventName = "$exception";
constexpr std::string_view snapshotEventName = "$snapshot";

// The crash reporter's set-up is always the same: the exception-server handler type (on this system the
// six crash signals), no symbolication at crash time (the service symbolicates from the debug images),
// and the uncaught-exception hook.
dzcrash::DZCrashReporterConfig crashReporterConfig() {
  dzcrash::DZCrashReporterConfig config;
  config.signalHandlerType = 1;
  config.symbolicationStrategy = 0;
  config.shouldRegisterUncaughtExceptionHandler = true;
  return config;
}

// A reporter with the identity the client holds; nothing (logged) when it cannot be created.
std::shared_ptr<dzcrash::DZCrashReporter> makeCrashReporter(const DiziZozBundleInfo& bundle) {
  auto created = dzcrash::DZCrashReporter::create(crashReporterConfig(), bundle.identifier, bundle.build,
                                                  bundle.shortVersion);
  if (!created.ok()) {
    hedgeLog("[DiziZoz] Failed to create DZCrashReporter instance");
    return nullptr;
  }
  return std::shared_ptr<dzcrash::DZCrashReporter>(std::move(created).value());
}

// The remote switch's subscription that waits for a fresh "on" after a cached "off": one per process.
struct PendingEnable {
  std::mutex lock;
  RegistrationToken token;  // lock
};

PendingEnable& pendingEnable() {
  static auto* pending = new PendingEnable;
  return *pending;
}

// Replaces the pending subscription; the one it replaces ends outside the lock.
void setPendingEnableToken(RegistrationToken token) {
  auto& pending = pendingEnable();
  RegistrationToken previous;
  {
    std::lock_guard lock(pending.lock);
    previous = std::exchange(pending.token, std::move(token));
  }
}

// The crashed run's context, as its custom data carried it: steps, distinct id and event properties.
struct CrashContext {
  std::vector<Properties> steps;
  std::optional<std::string> distinctId;
  Properties eventProperties = Properties::object();
};

CrashContext readCrashContext(const std::optional<std::vector<std::uint8_t>>& customData) {
  CrashContext context;
  if (!customData) return context;
  const auto document =
      fromJSONData(std::string_view(reinterpret_cast<const char*>(customData->data()), customData->size()));
  if (!document || !document->is_object()) return context;
  if (const auto steps = document->find("$exception_steps"); steps != document->end() && steps->is_array()) {
    bool allObjects = true;
    for (const auto& step : *steps) allObjects = allObjects && step.is_object();
    if (allObjects) context.steps.assign(steps->begin(), steps->end());
  }
  if (const auto id = document->find("distinct_id"); id != document->end() && id->is_string()) {
    context.distinctId = id->get<std::string>();
  }
  if (const auto properties = document->find("event_properties");
      properties != document->end() && properties->is_object()) {
    context.eventProperties = *properties;
  }
  return context;
}

// Sends the crash event through the client's capture rules, with the crashed run's identity and nothing
// of the current run's context.
void captureCrashEvent(DiziZozSDK& client, const std::optional<std::string>& crashDistinctId,
                       Properties properties, Date timestamp) {
  if (!client.isEnabled()) {
    hedgeLog(DiziZozSDK::notSetUpMessage);
    return;
  }
  const auto config = client.config();
  if (config->optOut) {
    hedgeLog(DiziZozSDK::optOutMessage);
    return;
  }
  const auto queue = client.queue();
  if (!queue) return;
  const auto& ignoredTypes = config->errorTrackingConfig->ignoredExceptionTypes;
  if (!ignoredTypes.empty() && exceptionListMatchesIgnoredTypes(properties, ignoredTypes)) {
    hedgeLog("[DiziZoz] $exception skipped: exception type is in errorTrackingConfig.ignoredExceptionTypes");
    return;
  }
  const std::string distinctId = crashDistinctId ? *crashDistinctId : client.getDistinctId();
  auto event =
      client.buildEvent(std::string(exceptionEventName), distinctId, std::move(properties), timestamp);
  if (!event) return;
  // A before-send hook may have renamed the event: route it by the name it has now.
  if (event->event == snapshotEventName) {
    if (!event->properties.contains("$session_id")) return;
    if (auto replay = client.replayQueue()) replay->add(*event);
  } else {
    queue->add(*event);
  }
  client.onEventCaptured.invoke(*event);
}

}  // namespace

DiziZozErrorTrackingAutoCaptureIntegration::~DiziZozErrorTrackingAutoCaptureIntegration() = default;

bool DiziZozErrorTrackingAutoCaptureIntegration::exceptionListMatchesIgnoredTypes(
    const Properties& properties, const std::vector<std::string>& ignoredTypes) {
  return dizizoz::exceptionListMatchesIgnoredTypes(properties, ignoredTypes);
}

DiziZozIntegrationInstallResult DiziZozErrorTrackingAutoCaptureIntegration::install(DiziZozSDK& client) {
  if (const auto store = std::dynamic_pointer_cast<DiziZozRemoteConfig>(client.remoteConfig())) {
    const bool fetched = store->hasFetchedRemoteConfig();
    const bool known = store->hasCachedRemoteConfig() || (fetched && store->getRemoteConfig());
    if (known && !store->isAutocaptureExceptionsEnabled()) {
      if (const auto reporter = makeCrashReporter(client.config()->bundle());
          reporter && reporter->hasPendingCrashReport()) {
        hedgeLog("[DiziZoz] Autocapture disabled by remote config, purging pending crash report");
        reporter->purgePendingCrashReport();
      }
      if (!fetched) watchForRemoteEnable(client);
      return DiziZozIntegrationInstallResult::skipped(
          DiziZozIntegrationInstallSkipReason::disabledInRemoteConfig);
    }
  }
  setPendingEnableToken({});
  return installGuarded(client);
}

void DiziZozErrorTrackingAutoCaptureIntegration::watchForRemoteEnable(DiziZozSDK& client) {
  const auto store = std::dynamic_pointer_cast<DiziZozRemoteConfig>(client.remoteConfig());
  if (!store) return;
  // The integration is held here alone while it waits; the client and the store only weakly: a client
  // closed meanwhile is not revived.
  std::weak_ptr<DiziZozRemoteConfig> weakStore = store;
  setPendingEnableToken(
      store->onRemoteConfigLoaded.subscribe([self = shared_from_this(), clientRef = weakClient(client),
                                             weakStore](const std::optional<Properties>&) {
        setPendingEnableToken({});
        const auto client = clientRef.lock();
        const auto store = weakStore.lock();
        if (!client || !store || !store->isAutocaptureExceptionsEnabled()) return;
        client->addIntegration(self);
      }));
}

void DiziZozErrorTrackingAutoCaptureIntegration::start(DiziZozSDK& client) {
  const auto reporter = makeCrashReporter(client.config()->bundle());
  if (!reporter) return;
  {
    std::lock_guard lock(lock_);
    crashReporter_ = reporter;
  }
  if (reporter->hasPendingCrashReport()) {
    hedgeLog("[DiziZoz] Found pending crash report, processing...");
    processPendingCrashReport();
  }
  enableCrashReporter(*reporter);

  auto writer = std::make_shared<DiziZozCrashCustomDataWriter>(
      [reporter](std::vector<std::uint8_t> data) { reporter->setCustomData(std::move(data)); });
  std::weak_ptr<DiziZozCrashCustomDataWriter> weakWriter = writer;
  auto contextToken = client.onEventContextChanged.subscribe([weakWriter](const Properties& context) {
    if (auto writer = weakWriter.lock()) writer->setContext(context);
  });
  auto stepsToken =
      client.onExceptionStepsChanged.subscribe([weakWriter](const std::vector<Properties>& steps) {
        if (auto writer = weakWriter.lock()) writer->setSteps(steps);
      });
  RegistrationToken remoteToken;
  const auto store = std::dynamic_pointer_cast<DiziZozRemoteConfig>(client.remoteConfig());
  if (store && !store->hasFetchedRemoteConfig()) {
    std::weak_ptr<DiziZozErrorTrackingAutoCaptureIntegration> weakSelf = weak_from_this();
    std::weak_ptr<DiziZozRemoteConfig> weakStore = store;
    remoteToken = store->onRemoteConfigLoaded.subscribe(
        [weakSelf, clientRef = weakClient(client), weakStore](const std::optional<Properties>&) {
          const auto self = weakSelf.lock();
          const auto client = clientRef.lock();
          if (!self || !client) return;
          RegistrationToken done;
          {
            std::lock_guard lock(self->lock_);
            done = std::move(self->remoteConfigLoadedToken_);
          }
          const auto store = weakStore.lock();
          if (store && !store->isAutocaptureExceptionsEnabled()) client->removeIntegration(self);
        });
  }
  std::lock_guard lock(lock_);
  crashCustomData_ = std::move(writer);
  contextChangedToken_ = std::move(contextToken);
  exceptionStepsChangedToken_ = std::move(stepsToken);
  remoteConfigLoadedToken_ = std::move(remoteToken);
}

void DiziZozErrorTrackingAutoCaptureIntegration::processPendingCrashReport() {
  std::shared_ptr<dzcrash::DZCrashReporter> reporter;
  {
    std::lock_guard lock(lock_);
    reporter = crashReporter_;
  }
  const auto client = diziZoz();
  if (!reporter || !client) return;

  auto data = reporter->loadPendingCrashReportData();
  if (!data.ok()) {
    hedgeLog("Failed to load crash report: " + data.error().description());
    reporter->purgePendingCrashReport();
    return;
  }
  // Gone before decoding: a report that cannot be decoded or processed is never tried again.
  reporter->purgePendingCrashReport();
  const auto report = dzcrash::DZCrashReport::fromData(data.value());
  if (!report.ok()) {
    hedgeLog("Failed to process crash report: " + report.error().description());
    return;
  }

  const auto config = client->config();
  const auto& errorTracking = *config->errorTrackingConfig;
  CrashContext context = readCrashContext(report.value().customData());
  Properties properties = std::move(context.eventProperties);
  // On a key the crashed run's properties share with the crash itself, the crash wins.
  Properties crash = DiziZozCrashReportProcessor::processReport(report.value(), errorTracking);
  for (auto& [key, value] : crash.items()) properties[key] = std::move(value);
  if (!properties.contains("$exception_steps") && !context.steps.empty()) {
    properties["$exception_steps"] = std::move(context.steps);
  }
  if (!errorTracking.ignoredExceptionTypes.empty() &&
      exceptionListMatchesIgnoredTypes(properties, errorTracking.ignoredExceptionTypes)) {
    hedgeLog(
        "[DiziZoz] Crash report skipped: exception type is in errorTrackingConfig.ignoredExceptionTypes");
    return;
  }
  const auto& crashedAt = report.value().systemInfo().timestamp();
  const Date timestamp = crashedAt ? Date(*crashedAt) : client->services().clock->now();
  captureCrashEvent(*client, context.distinctId, std::move(properties), timestamp);
  hedgeLog("[DiziZoz] Crash report processed and captured");
}

void DiziZozErrorTrackingAutoCaptureIntegration::enableCrashReporter(dzcrash::DZCrashReporter& reporter) {
  if (DiziZozDebugUtils::isDebuggerAttached()) {
    hedgeLog(
        "[DiziZoz] Crash handler is disabled because a debugger is attached. Crashes will be caught by the "
        "debugger instead.");
    return;
  }
  if (const auto error = reporter.enableCrashReporter()) {
    hedgeLog("Failed to enable DZCrashReporter: " + error->description());
    return;
  }
  hedgeLog("[DiziZoz] DZCrashReporter enabled successfully");
}

void DiziZozErrorTrackingAutoCaptureIntegration::stop() {
  RegistrationToken remote;
  RegistrationToken context;
  RegistrationToken steps;
  std::shared_ptr<DiziZozCrashCustomDataWriter> writer;
  std::shared_ptr<dzcrash::DZCrashReporter> reporter;
  {
    std::lock_guard lock(lock_);
    remote = std::move(remoteConfigLoadedToken_);
    context = std::move(contextChangedToken_);
    steps = std::move(exceptionStepsChangedToken_);
    writer = std::move(crashCustomData_);
    reporter = std::move(crashReporter_);
  }
}

void registerErrorTrackingIntegrationFactory() {
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::errorTrackingAutoCapture, [] {
    return std::make_shared<DiziZozErrorTrackingAutoCaptureIntegration>();
  });
}

}  // namespace dizizoz
