#include "DiziZoz/core/DiziZozSDK.h"

#include <set>
#include <utility>

#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/DiziZozContext.h"
#include "DiziZoz/core/DiziZozExceptionStepsBuffering.h"
#include "DiziZoz/core/DiziZozIntegrationInstallState.h"
#include "DiziZoz/core/DiziZozLogger.h"
#include "DiziZoz/core/DiziZozPushSubscriptionHandling.h"
#include "DiziZoz/core/DiziZozReachabilityMonitoring.h"
#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozReplayQueueing.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/HedgeLog.h"
#include "platform/MainExecutor.h"
#include "platform/NotificationCenter.h"

namespace dizizoz {
namespace {

using StorageKey = DiziZozStorage::StorageKey;

// Every project token a client of this process has been set up with. Two clients may set up at once, so
// the set has a lock of its own.
struct ProjectTokens {
  std::mutex lock;
  std::set<std::string> tokens;  // lock
};

ProjectTokens& projectTokens() {
  static auto* tokens = new ProjectTokens;
  return *tokens;
}

}  // namespace

std::weak_ptr<DiziZozSDK> weakClient(DiziZozSDK& client) {
  return client.weak_from_this();
}

std::shared_ptr<DiziZozSDK> DiziZozSDK::create(std::shared_ptr<DiziZozConfig> config,
                                               DiziZozServices services) {
  return std::make_shared<DiziZozSDK>(Passkey{}, std::move(config), std::move(services));
}

DiziZozSDK::DiziZozSDK(Passkey, std::shared_ptr<DiziZozConfig> config, DiziZozServices services)
    : services_(std::move(services)),
      config_(std::move(config)),
      sessionManager_(std::make_shared<DiziZozSessionManager>(services_.clock, services_.idGenerator,
                                                              DI::main().appLifecyclePublisher())) {}

DiziZozSDK::~DiziZozSDK() {
  std::lock_guard setupLock(setupLock_);
  if (reachability_) reachability_->stopNotifier();
  sessionIdChangedToken_.release();
  uninstallIntegrations();
}

const std::shared_ptr<DiziZozSDK>& DiziZozSDK::shared() {
  static const auto* instance = new std::shared_ptr<DiziZozSDK>(
      create(std::make_shared<DiziZozConfig>(""), DiziZozServices::takeForSharedClient()));
  return *instance;
}

std::shared_ptr<DiziZozConfig> DiziZozSDK::config() const {
  std::lock_guard lock(configLock_);
  return config_;
}

std::shared_ptr<DiziZozStorageManager> DiziZozSDK::identityCache() const {
  return config()->storageManager.load();
}

bool DiziZozSDK::isEnabled() const {
  std::lock_guard lock(setupLock_);
  return enabled_;
}

bool DiziZozSDK::checkSetup() const {
  if (isEnabled()) return true;
  hedgeLog(notSetUpMessage);
  return false;
}

void DiziZozSDK::setup(std::shared_ptr<DiziZozConfig> newConfig) {
  if (!newConfig) return;
  std::lock_guard setupLock(setupLock_);

  // 1. Even a refused set-up changes the diagnostic switch.
  setHedgeLogEnabled(newConfig->debug);
  if (enabled_) {
    hedgeLog("Setup called despite already being setup!");
    return;
  }
  const std::string token = newConfig->projectToken();
  if (token.empty()) {
    hedgeLog("DiziZoz SDK will be disabled because projectToken or apiKey is empty.");
    return;
  }
  // The token names the client's folder: one that cannot would leave an enabled client without storage.
  if (!DiziZozStorage::isUsableProjectToken(token)) {
    hedgeLog("DiziZoz SDK will be disabled because projectToken cannot name a storage folder.");
    return;
  }
  {
    auto& registry = projectTokens();
    std::unique_lock lock(registry.lock);
    const bool known = !registry.tokens.insert(token).second;
    lock.unlock();
    if (known) hedgeLog("Project token: " + token + " already has a DiziZoz instance.");
  }

  enabled_ = true;
  {
    std::lock_guard lock(configLock_);
    config_ = newConfig;
  }
  const std::shared_ptr<DiziZozConfig>& config = newConfig;
  const std::weak_ptr<DiziZozSDK> weakSelf = weak_from_this();

  const DiziZozStorageLocation location = services_.storageLocation(*config);
  auto storage = DiziZozStorage::open(*config, location);
  auto api = services_.makeApiClient(config);
  if (!config->storageManager)
    config->storageManager = std::make_shared<DiziZozStorageManager>(*config, location);
  // A device id exists from the first set-up on.
  identityCache()->getDeviceId();

  auto remoteConfig = services_.makeRemoteConfig({
      .config = config,
      .storage = storage,
      .api = api,
      .defaultPersonProperties = [weakSelf]() -> Properties {
        auto self = weakSelf.lock();
        if (!self || !self->config()->setDefaultPersonProperties || !self->checkSetup())
          return Properties::object();
        auto context = self->context();
        return context ? context->personPropertiesContext() : Properties::object();
      },
      .flagCalled =
          [weakSelf](const std::string& flagKey, const std::optional<Value>& flagValue) {
            if (auto self = weakSelf.lock()) self->reportFeatureFlagCalled(flagKey, flagValue);
          },
  });

  // The monitor exists whatever disableReachabilityForTesting says: the option only keeps the queues and
  // the push handler from consulting it.
  auto reachability = services_.makeReachability(*config);

  auto context = std::make_shared<DiziZozContext>(DiziZozContext::Sources{
      .bundle = config->bundle(),
      .hostFacts = services_.hostFacts,
      .keyWindowScreen = services_.keyWindowScreen,
      .reachability = reachability,
      .mainExecutor = services_.mainExecutor,
      .notificationCenter = services_.notificationCenter,
  });
  context->registerNotifications();

  auto pushHandler = services_.makePushHandler({
      .api = api,
      .storage = storage,
      .config = config,
      .providers = makePushProviders(),
      .onEventContextChanged = &onEventContextChanged,
  });

  {
    std::lock_guard lock(optOutLock_);
    if (auto stored = storage->getTypedValue<bool>(StorageKey::optOut)) config->optOut = *stored;
  }

  const Properties logsAttributes = services_.makeLogsResourceAttributes(*config);
  const DiziZozServices::QueueParts queueParts{
      .config = config, .storage = storage, .api = api, .reachability = reachability};
  auto queue = services_.makeEventQueue(queueParts);
  auto replayQueue = services_.makeReplayQueue(queueParts);
  auto logsQueue = services_.makeLogsQueue(queueParts, logsAttributes);

  {
    std::lock_guard lock(partsLock_);
    api_ = api;
    storage_ = storage;
    remoteConfig_ = remoteConfig;
    reachability_ = reachability;
    context_ = context;
    pushSubscriptionHandler_ = pushHandler;
    queue_ = queue;
    replayQueue_ = replayQueue;
    logsQueue_ = logsQueue;
  }

  const bool disableReachability = config->disableReachabilityForTesting;
  const bool disableTimer = config->disableQueueTimerForTesting;
  queue->start(disableReachability, disableTimer);
  replayQueue->innerQueue().start(disableReachability, disableTimer);
  logsQueue->start(disableReachability, disableTimer);

  sessionManager_->setup(config);
  sessionManager_->startSession();
  sessionIdChangedToken_ = sessionManager_->onSessionIdChanged.subscribe([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    // The zone is read once per session: a session started after the user moved carries the new one.
    if (auto context = self->context()) context->refreshTimeZone();
    self->notifyContextDidChange();
  });

  auto logger = services_.makeLogger(weakSelf);
  {
    std::lock_guard lock(partsLock_);
    logger_ = logger;
  }

  reconcileBootstrapIdentity();

  if (!config->optOut) {
    installIntegrations();
    createExceptionStepsBufferIfNeeded();
    notifyContextDidChange();
    publishExceptionSteps();
  }

  if (pushHandler) pushHandler->retryIfNeeded();

  if (!config->disableFlushOnBackgroundForTesting) {
    didEnterBackgroundToken_ =
        DI::main().appLifecyclePublisher().onDidEnterBackground().subscribe([weakSelf] {
          if (auto self = weakSelf.lock()) self->flush();
        });
  }

  services_.mainExecutor->post(
      [center = services_.notificationCenter] { center->post(std::string(didStartNotification)); });
}

void DiziZozSDK::close() {
  if (!checkSetup()) return;
  {
    std::lock_guard setupLock(setupLock_);
    // Another thread may have closed the client since the check.
    if (!enabled_) return;
    enabled_ = false;
    const auto config = this->config();
    {
      auto& registry = projectTokens();
      std::lock_guard lock(registry.lock);
      registry.tokens.erase(config->projectToken());
    }

    // First of all: jobs of the parts may still be running (a flags answer sending the request it
    // parked, a queue's batch), and none of them may reach the transport after close().
    std::shared_ptr<DiziZozApi> api;
    {
      std::lock_guard lock(partsLock_);
      api = std::exchange(api_, nullptr);
    }
    if (api && services_.closeApiClient) services_.closeApiClient(*api);

    std::shared_ptr<DiziZozQueueing<DiziZozEvent>> queue;
    std::shared_ptr<DiziZozReplayQueueing> replayQueue;
    std::shared_ptr<DiziZozQueueing<DiziZozLogRecord>> logsQueue;
    {
      std::lock_guard lock(partsLock_);
      queue = std::exchange(queue_, nullptr);
      replayQueue = std::exchange(replayQueue_, nullptr);
      logsQueue = std::exchange(logsQueue_, nullptr);
      pushSubscriptionHandler_ = nullptr;
    }
    // Their files stay for the next set-up.
    if (queue) queue->stop();
    if (replayQueue) replayQueue->innerQueue().stop();
    if (logsQueue) logsQueue->stop();

    std::shared_ptr<DiziZozExceptionStepsBuffering> buffer;
    {
      std::lock_guard lock(exceptionStepsBufferLock_);
      buffer = std::exchange(exceptionStepsBuffer_, nullptr);
    }
    if (buffer) buffer->clear();

    // Cached values only: every key file stays.
    if (auto identity = identityCache()) identity->reset(config->reuseAnonymousId, false);
    config->storageManager = nullptr;
    {
      std::lock_guard lock(configLock_);
      config_ = std::make_shared<DiziZozConfig>("");
    }
    std::shared_ptr<DiziZozReachabilityMonitoring> reachability;
    {
      std::lock_guard lock(partsLock_);
      remoteConfig_ = nullptr;
      storage_ = nullptr;
      reachability = std::exchange(reachability_, nullptr);
    }
    if (reachability) reachability->stopNotifier();
    {
      std::lock_guard lock(flagCallReportedLock_);
      flagCallReported_.clear();
    }
    {
      std::lock_guard lock(partsLock_);
      context_ = nullptr;
    }
    sessionManager_->endSession();
    didEnterBackgroundToken_.release();
    {
      std::lock_guard lock(partsLock_);
      logger_ = nullptr;
    }
    // Diagnostics of every client in the process stop, until a set-up with the debug option.
    setHedgeLogEnabled(false);
    uninstallIntegrations();
  }
  std::lock_guard lock(lastScreenLock_);
  lastScreenName_.reset();
}

std::shared_ptr<DiziZozSDK> DiziZozSDK::with(std::shared_ptr<DiziZozConfig> config,
                                             DiziZozServices services) {
  auto client = create(config, std::move(services));
  client->setup(std::move(config));
  return client;
}

DiziZozPushProviders DiziZozSDK::makePushProviders() {
  const std::weak_ptr<DiziZozSDK> weakSelf = weak_from_this();
  return {
      .distinctId =
          [weakSelf] {
            auto self = weakSelf.lock();
            return self ? self->getDistinctId() : std::string();
          },
      .isConnected =
          [weakSelf] {
            auto self = weakSelf.lock();
            if (!self || self->config()->disableReachabilityForTesting) return true;
            auto reachability = self->reachability();
            return !reachability || reachability->connection() != DiziZozConnection::unavailable;
          },
      .isAllowed =
          [weakSelf] {
            auto self = weakSelf.lock();
            if (!self || !self->checkSetup()) return false;
            if (self->config()->optOut) {
              hedgeLog(optOutMessage);
              return false;
            }
            return true;
          },
      .isEnabled =
          [weakSelf] {
            auto self = weakSelf.lock();
            return self && self->checkSetup();
          },
  };
}

void DiziZozSDK::reconcileBootstrapIdentity() {
  const auto config = this->config();
  const auto identityCache = this->identityCache();
  const auto& bootstrap = config->bootstrap;
  if (!bootstrap || !bootstrap->isIdentifiedId || !bootstrap->distinctId ||
      trimmedWhitespace(*bootstrap->distinctId).empty() || !identityCache) {
    return;
  }
  const std::string& bootstrapId = *bootstrap->distinctId;
  auto& identity = *identityCache;
  const bool identified = identity.isIdentified();
  if (identity.getDistinctId() == bootstrapId) {
    if (!identified) identity.setIdentified(true);
    return;
  }
  if (identified) {
    hedgeLog(
        "Bootstrap distinctId differs from an already-identified user. The existing identity is preserved. "
        "Call reset() before reinitializing to switch users.");
    return;
  }
  if (config->optOut) {
    hedgeLog(optOutMessage);
    if (config->personProfiles != DiziZozPersonProfiles::never) {
      identity.setDistinctId(bootstrapId);
      identity.setIdentified(true);
    }
    return;
  }
  identify(bootstrapId);
}

void DiziZozSDK::notifyContextDidChange() {
  if (!checkSetup()) return;
  const std::string distinctId = getDistinctId();
  // What the next event would carry without properties of its own.
  Properties eventProperties = buildProperties(distinctId, std::nullopt, std::nullopt, std::nullopt,
                                               std::nullopt, true, std::nullopt, true);
  onEventContextChanged.invoke(
      Properties{{"distinct_id", distinctId}, {"event_properties", std::move(eventProperties)}});
}

void DiziZozSDK::debug(bool enabled) {
  if (!checkSetup()) return;
  setHedgeLogEnabled(enabled);
}

std::string DiziZozSDK::getDistinctId() {
  if (!checkSetup()) return {};
  auto identity = identityCache();
  return identity ? identity->getDistinctId() : std::string();
}

std::string DiziZozSDK::getAnonymousId() {
  if (!checkSetup()) return {};
  auto identity = identityCache();
  return identity ? identity->getAnonymousId() : std::string();
}

std::string DiziZozSDK::getDeviceId() {
  if (!checkSetup()) return {};
  auto identity = identityCache();
  return identity ? identity->getDeviceId() : std::string();
}

void DiziZozSDK::flush() {
  if (!checkSetup()) return;
  if (auto events = queue()) events->flush();
  if (auto replay = replayQueue()) replay->flush();
  if (auto logs = logsQueue()) logs->flush();
  if (auto push = pushSubscriptionHandler()) push->retryIfNeeded();
}

#define DIZIZOZ_PART_GETTER(Type, name, field)     \
  std::shared_ptr<Type> DiziZozSDK::name() const { \
    std::lock_guard lock(partsLock_);              \
    return field;                                  \
  }

DIZIZOZ_PART_GETTER(DiziZozStorage, storage, storage_)
DIZIZOZ_PART_GETTER(DiziZozRemoteConfigProviding, remoteConfig, remoteConfig_)
DIZIZOZ_PART_GETTER(DiziZozReachabilityMonitoring, reachability, reachability_)
DIZIZOZ_PART_GETTER(DiziZozContext, context, context_)
DIZIZOZ_PART_GETTER(DiziZozPushSubscriptionHandling, pushSubscriptionHandler, pushSubscriptionHandler_)
DIZIZOZ_PART_GETTER(DiziZozQueueing<DiziZozEvent>, queue, queue_)
DIZIZOZ_PART_GETTER(DiziZozReplayQueueing, replayQueue, replayQueue_)
DIZIZOZ_PART_GETTER(DiziZozQueueing<DiziZozLogRecord>, logsQueue, logsQueue_)
DIZIZOZ_PART_GETTER(DiziZozLogger, logger, logger_)

#undef DIZIZOZ_PART_GETTER

void DiziZozSDK::setLogger(std::shared_ptr<DiziZozLogger> logger) {
  std::lock_guard lock(partsLock_);
  logger_ = std::move(logger);
}

}  // namespace dizizoz
