#include "DiziZoz/delivery/DiziZozRemoteConfig.h"

#include <algorithm>
#include <utility>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/delivery/DiziZozApi.h"

namespace dizizoz {

namespace {

const Value* member(const Properties& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<Properties> objectAt(const Properties& object, std::string_view key) {
  const Value* value = member(object, key);
  if (value && value->is_object()) return *value;
  return std::nullopt;
}

// Merges `update` into `base`, a key present in both taking the update's value.
Properties merged(Properties base, const Properties& update) {
  if (!base.is_object()) base = Properties::object();
  for (auto it = update.begin(); it != update.end(); ++it) base[it.key()] = it.value();
  return base;
}

}  // namespace

std::shared_ptr<DiziZozRemoteConfig> DiziZozRemoteConfig::create(DiziZozServices::RemoteConfigParts parts,
                                                                 Environment environment) {
  std::shared_ptr<DiziZozRemoteConfig> store(
      new DiziZozRemoteConfig(std::move(parts), std::move(environment)));
  // Listeners hear of seeded bootstrap flags, and the start-up load runs, only once the store is owned:
  // both outlive the constructor.
  if (store->seededAtConstruction_) store->notifyFeatureFlags(store->cachedFlags());
  store->preloadRemoteConfig();
  return store;
}

decltype(DiziZozServices::makeRemoteConfig) DiziZozRemoteConfig::servicesFactory(
    std::function<std::shared_ptr<platform::SerialQueue>(std::string_view label)> makeSerialQueue,
    std::shared_ptr<platform::Executor> mainExecutor,
    std::shared_ptr<platform::NotificationCenter> notificationCenter) {
  return [makeSerialQueue = std::move(makeSerialQueue), mainExecutor = std::move(mainExecutor),
          center = std::move(notificationCenter)](
             DiziZozServices::RemoteConfigParts parts) -> std::shared_ptr<DiziZozRemoteConfigProviding> {
    if (!parts.api) return std::make_shared<DiziZozInertRemoteConfig>();
    return create(std::move(parts), {.dispatchQueue = makeSerialQueue(dispatchQueueLabel),
                                     .mainExecutor = mainExecutor,
                                     .notificationCenter = center});
  };
}

DiziZozRemoteConfig::DiziZozRemoteConfig(DiziZozServices::RemoteConfigParts parts, Environment environment)
    : config_(std::move(parts.config)),
      storage_(std::move(parts.storage)),
      api_(std::move(parts.api)),
      getDefaultPersonProperties_(std::move(parts.defaultPersonProperties)),
      featureFlagCalledCallback_(std::move(parts.flagCalled)),
      environment_(std::move(environment)) {
  filterBootstrap();
  loadCachedPropertiesForFlags();
  seededAtConstruction_ = seedBootstrapFlagsIfNeeded();
  preloadSessionReplay();
  preloadErrorTrackingConfig();
}

std::optional<Properties>& DiziZozRemoteConfig::getCachedDictionary(std::optional<Properties>& field,
                                                                    StorageKey key) {
  if (field) return field;
  auto stored = storage_->getJson(key);
  if (stored && stored->is_object()) field = std::move(*stored);
  return field;
}

std::optional<Properties> DiziZozRemoteConfig::cachedFlags() {
  std::lock_guard lock(featureFlagsLock_);
  return getCachedDictionary(featureFlags_, StorageKey::enabledFeatureFlags);
}

// ---- Remote configuration ----

std::optional<Properties> DiziZozRemoteConfig::getRemoteConfig() {
  std::lock_guard lock(remoteConfigLock_);
  return getCachedDictionary(remoteConfig_, StorageKey::remoteConfig);
}

bool DiziZozRemoteConfig::hasFetchedRemoteConfig() {
  std::lock_guard lock(remoteConfigLock_);
  return remoteConfigDidFetch_;
}

bool DiziZozRemoteConfig::hasCachedRemoteConfig() {
  std::lock_guard lock(remoteConfigLock_);
  return remoteConfigWasCached_;
}

bool DiziZozRemoteConfig::isAutocaptureExceptionsEnabled() {
  std::lock_guard lock(errorTrackingLock_);
  return autoCaptureExceptions_;
}

bool DiziZozRemoteConfig::isSessionReplayFlagActive() {
  std::lock_guard lock(sessionReplayLock_);
  return sessionReplayFlagActive_;
}

void DiziZozRemoteConfig::preloadRemoteConfig() {
  {
    std::lock_guard lock(remoteConfigLock_);
    if (getCachedDictionary(remoteConfig_, StorageKey::remoteConfig)) remoteConfigWasCached_ = true;
  }
  if (config_->disableRemoteConfigForTesting) return;
  {
    std::lock_guard lock(remoteConfigLock_);
    if (remoteConfig_ && remoteConfigDidFetch_) return;
  }
  std::weak_ptr<DiziZozRemoteConfig> weakSelf = weak_from_this();
  environment_.dispatchQueue->post([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->reloadRemoteConfig([weakSelf](const std::optional<Properties>& config) {
      if (auto self = weakSelf.lock()) self->onStartupRemoteConfig(config);
    });
  });
}

void DiziZozRemoteConfig::reloadRemoteConfig(std::function<void(const std::optional<Properties>&)> callback) {
  {
    std::lock_guard lock(loadingRemoteConfigLock_);
    // One request at a time: a call made while one runs starts nothing and is answered with nothing.
    if (loadingRemoteConfig_) {
      if (callback) callback(std::nullopt);
      return;
    }
    loadingRemoteConfig_ = true;
  }
  auto self = shared_from_this();
  api_->remoteConfig([self, callback = std::move(callback)](std::optional<Properties> config,
                                                            std::optional<DiziZozApiError>) {
    if (config && !config->is_object()) config.reset();
    if (config) {
      {
        std::lock_guard lock(self->remoteConfigLock_);
        self->remoteConfig_ = *config;
        self->storage_->setJson(StorageKey::remoteConfig, *config);
      }
      self->processErrorTrackingConfig(config);
      self->environment_.mainExecutor->post([self, config] { self->onRemoteConfigLoaded.invoke(config); });
    }
    {
      std::lock_guard lock(self->remoteConfigLock_);
      self->remoteConfigDidFetch_ = true;
    }
    {
      std::lock_guard lock(self->loadingRemoteConfigLock_);
      self->loadingRemoteConfig_ = false;
    }
    if (callback) callback(config);
  });
}

void DiziZozRemoteConfig::onStartupRemoteConfig(const std::optional<Properties>& config) {
  if (!config) {
    hedgeLog("[DiziZoz] Remote config response is missing, skipping loading flags");
    notifyFeatureFlags(std::nullopt);
    return;
  }
  const Value* hasFeatureFlags = member(*config, hasFeatureFlagsKey_);
  if (hasFeatureFlags && hasFeatureFlags->is_boolean() && !hasFeatureFlags->get<bool>()) {
    hedgeLog("[DiziZoz] hasFeatureFlags is false, clearing flags and skipping loading flags");
    clearFeatureFlags();
    seedBootstrapFlagsIfNeeded();
    notifyFeatureFlags(cachedFlags());
    return;
  }
  if (config_->preloadFeatureFlags) preloadFeatureFlags();
}

void DiziZozRemoteConfig::processErrorTrackingConfig(const std::optional<Properties>& config) {
  std::optional<Value> value;
  if (config) {
    if (const Value* given = member(*config, "errorTracking")) value = *given;
  }
  if (!value) {
    std::lock_guard lock(remoteConfigLock_);
    if (const auto& cached = getCachedDictionary(remoteConfig_, StorageKey::remoteConfig)) {
      if (const Value* stored = member(*cached, "errorTracking")) value = *stored;
    }
  }
  if (!value) return;
  std::optional<bool> enabled;
  if (value->is_boolean()) {
    enabled = value->get<bool>();
  } else if (value->is_object()) {
    const Value* autocapture = member(*value, "autocaptureExceptions");
    enabled = autocapture && autocapture->is_boolean() && autocapture->get<bool>();
  }
  if (!enabled) return;
  std::lock_guard lock(errorTrackingLock_);
  autoCaptureExceptions_ = *enabled;
}

void DiziZozRemoteConfig::preloadErrorTrackingConfig() {
  std::optional<Properties> errorTracking;
  {
    std::lock_guard lock(remoteConfigLock_);
    if (const auto& cached = getCachedDictionary(remoteConfig_, StorageKey::remoteConfig))
      errorTracking = objectAt(*cached, "errorTracking");
  }
  if (!errorTracking) return;
  const Value* autocapture = member(*errorTracking, "autocaptureExceptions");
  std::lock_guard lock(errorTrackingLock_);
  autoCaptureExceptions_ = autocapture && autocapture->is_boolean() && autocapture->get<bool>();
}

void DiziZozRemoteConfig::preloadSessionReplay() {
  std::optional<Properties> sessionRecording;
  {
    std::lock_guard lock(remoteConfigLock_);
    if (const auto& cached = getCachedDictionary(remoteConfig_, StorageKey::remoteConfig))
      sessionRecording = objectAt(*cached, "sessionRecording");
  }
  const Properties flags = cachedFlags().value_or(Properties::object());
  if (!sessionRecording) return;
  // Written here only, before set-up has built any queue, so the snapshot upload never sees it change.
  if (const Value* endpoint = member(*sessionRecording, "endpoint"); endpoint && endpoint->is_string())
    config_->snapshotEndpoint = endpoint->get<std::string>();
  // The test may report a flag call to the client: not under the store's lock.
  const bool active = isRecordingActive(flags, *sessionRecording);
  std::lock_guard lock(sessionReplayLock_);
  sessionReplayFlagActive_ = active;
}

bool DiziZozRemoteConfig::isRecordingActive(const Properties& flags, const Properties& sessionRecording) {
  const auto report = [this](const std::string& key, const Value& value) {
    if (config_->sendFeatureFlagEvent && featureFlagCalledCallback_) featureFlagCalledCallback_(key, value);
  };
  const Value* linkedFlag = member(sessionRecording, "linkedFlag");
  if (!linkedFlag) return true;
  if (linkedFlag->is_string()) {
    const std::string key = linkedFlag->get<std::string>();
    const Value* entry = member(flags, key);
    if (!entry) return false;
    report(key, *entry);
    if (entry->is_boolean()) return entry->get<bool>();
    return entry->is_string();
  }
  if (linkedFlag->is_object()) {
    const Value* flag = member(*linkedFlag, "flag");
    const Value* variant = member(*linkedFlag, "variant");
    if (!flag || !flag->is_string() || !variant || !variant->is_string()) return false;
    const std::string key = flag->get<std::string>();
    const Value* entry = member(flags, key);
    if (!entry || !entry->is_string()) return false;
    report(key, *entry);
    return *entry == *variant;
  }
  return true;
}

// ---- Feature flags ----

void DiziZozRemoteConfig::filterBootstrap() {
  const auto& bootstrap = config_->bootstrap;
  Properties flags = Properties::object();
  if (bootstrap && bootstrap->featureFlags)
    flags = sanitizeDictionary(*bootstrap->featureFlags).value_or(Properties::object());
  std::vector<std::string> ignored;
  Properties usable = Properties::object();
  for (auto it = flags.begin(); it != flags.end(); ++it) {
    const Value& value = it.value();
    if (!value.is_boolean() && !value.is_string()) {
      ignored.push_back(it.key());
      continue;
    }
    if ((value.is_boolean() && value.get<bool>()) ||
        (value.is_string() && !value.get_ref<const std::string&>().empty()))
      usable[it.key()] = value;
  }
  if (!ignored.empty()) {
    std::sort(ignored.begin(), ignored.end());
    std::string joined;
    for (const auto& key : ignored) joined += (joined.empty() ? "" : ", ") + key;
    hedgeLog("Bootstrap featureFlags values for [" + joined +
             "] are not a Bool or String and were ignored. Use a Bool for boolean flags or a String for "
             "multivariate flags.");
  }
  Properties payloads = Properties::object();
  if (bootstrap && bootstrap->featureFlagPayloads) {
    const Properties all = sanitizeDictionary(*bootstrap->featureFlagPayloads).value_or(Properties::object());
    for (auto it = all.begin(); it != all.end(); ++it)
      if (usable.contains(it.key())) payloads[it.key()] = it.value();
  }
  std::lock_guard lock(featureFlagsLock_);
  bootstrappedFlags_ = std::move(usable);
  bootstrappedPayloads_ = std::move(payloads);
}

bool DiziZozRemoteConfig::seedBootstrapFlagsIfNeeded() {
  std::lock_guard lock(featureFlagsLock_);
  if (bootstrappedFlags_.empty()) return false;
  featureFlags_ = bootstrappedFlags_;
  storage_->setJson(StorageKey::enabledFeatureFlags, *featureFlags_);
  featureFlagPayloads_ = bootstrappedPayloads_;
  storage_->setJson(StorageKey::enabledFeatureFlagPayloads, *featureFlagPayloads_);
  return true;
}

void DiziZozRemoteConfig::loadCachedPropertiesForFlags() {
  {
    std::lock_guard lock(personPropertiesForFlagsLock_);
    if (auto stored = storage_->getJson(StorageKey::personPropertiesForFlags); stored && stored->is_object())
      personPropertiesForFlags_ = std::move(*stored);
  }
  std::lock_guard lock(groupPropertiesForFlagsLock_);
  if (auto stored = storage_->getJson(StorageKey::groupPropertiesForFlags);
      stored && stored->is_object() &&
      std::all_of(stored->begin(), stored->end(), [](const Value& v) { return v.is_object(); }))
    groupPropertiesForFlags_ = std::move(*stored);
}

void DiziZozRemoteConfig::preloadFeatureFlags() {
  cachedFlags();
  if (!config_->preloadFeatureFlags) return;
  std::weak_ptr<DiziZozRemoteConfig> weakSelf = weak_from_this();
  environment_.dispatchQueue->post([weakSelf] {
    if (auto self = weakSelf.lock()) self->reloadFeatureFlags({});
  });
}

void DiziZozRemoteConfig::reloadFeatureFlags(ReloadCallback callback) {
  const auto storageManager = config_->storageManager.load();
  if (!storageManager) {
    hedgeLog("[DiziZoz] No DiziZozStorageManager found in config, skipping loading feature flags");
    if (callback) callback(std::nullopt);
    return;
  }
  std::map<std::string, std::string> groups;
  {
    std::lock_guard lock(featureFlagsLock_);
    const auto stored = storage_->getJson(StorageKey::groups);
    if (stored && stored->is_object() &&
        std::all_of(stored->begin(), stored->end(), [](const Value& v) { return v.is_string(); })) {
      for (auto it = stored->begin(); it != stored->end(); ++it)
        groups[it.key()] = it.value().get<std::string>();
    }
  }
  PendingFeatureFlagsRequest request{
      .distinctId = storageManager->getDistinctId(),
      .anonymousId = config_->reuseAnonymousId ? std::nullopt
                                               : std::optional<std::string>(storageManager->getAnonymousId()),
      .deviceId = std::nullopt,
      .groups = std::move(groups),
      .callback = callback ? std::move(callback) : ReloadCallback([](const std::optional<Properties>&) {}),
  };
  if (auto deviceId = storageManager->getDeviceId(); !deviceId.empty())
    request.deviceId = std::move(deviceId);
  loadFeatureFlags(std::move(request));
}

void DiziZozRemoteConfig::loadFeatureFlags(PendingFeatureFlagsRequest request) {
  {
    std::unique_lock lock(loadingFeatureFlagsLock_);
    if (loadingFeatureFlags_) {
      auto displaced = std::exchange(pendingFeatureFlagsRequest_, std::move(request));
      lock.unlock();
      const auto flags = cachedFlags();
      if (displaced) displaced->callback(flags);
      return;
    }
    loadingFeatureFlags_ = true;
  }
  const Properties personProperties = getPersonPropertiesForFlags();
  std::optional<DiziZozApi::GroupProperties> groupProperties;
  {
    std::lock_guard lock(groupPropertiesForFlagsLock_);
    if (!groupPropertiesForFlags_.empty()) {
      groupProperties.emplace();
      for (auto it = groupPropertiesForFlags_.begin(); it != groupPropertiesForFlags_.end(); ++it)
        (*groupProperties)[it.key()] = it.value();
    }
  }
  auto self = shared_from_this();
  api_->flags(request.distinctId, request.anonymousId, request.deviceId, request.groups, personProperties,
              groupProperties,
              [self, callback = std::move(request.callback)](std::optional<Properties> response,
                                                             std::optional<DiziZozApiError>) mutable {
                self->environment_.dispatchQueue->post(
                    [self, response = std::move(response), callback = std::move(callback)]() mutable {
                      self->handleFlagsResponse(std::move(response), callback);
                    });
              });
}

void DiziZozRemoteConfig::handleFlagsResponse(std::optional<Properties> response,
                                              const ReloadCallback& callback) {
  if (!response || !response->is_object()) {
    hedgeLog("[DiziZoz] Error: Flags response data is nil");
    notifyFeatureFlagsAndRelease(std::nullopt);
    callback(std::nullopt);
    return;
  }
  if (const Value* quota = member(*response, "quotaLimited"); quota && quota->is_array()) {
    const bool limited = std::any_of(quota->begin(), quota->end(),
                                     [](const Value& v) { return v.is_string() && v == "feature_flags"; });
    if (limited) {
      hedgeLog(
          "[DiziZoz] Warning: Feature flags quota limit reached - flags could not be updated. Learn more "
          "about billing limits and alerts in the analytics service's documentation: "
          "https://dizizoz.com/docs/billing/limits-alerts");
      const Properties flags = cachedFlags().value_or(Properties::object());
      processErrorTrackingConfig(std::nullopt);
      notifyFeatureFlagsAndRelease(flags);
      callback(flags);
      return;
    }
  }
  Properties normalized = *response;
  normalizeResponse(normalized);
  const auto details = objectAt(normalized, "flags");
  const auto newFlags = objectAt(normalized, "featureFlags");
  const auto newPayloads = objectAt(normalized, "featureFlagPayloads");
  if (!newFlags || !newPayloads) {
    hedgeLog("[DiziZoz] Error: Flags response missing correct featureFlags format");
    notifyFeatureFlagsAndRelease(std::nullopt);
    callback(std::nullopt);
    return;
  }
  processErrorTrackingConfig(std::nullopt);

  const Value* requestId = member(normalized, "requestId");
  const Value* evaluatedAt = member(normalized, "evaluatedAt");
  const Value* errors = member(normalized, "errorsWhileComputingFlags");
  const Value* minimal = member(normalized, "minimalFlagCalledEvents");
  const bool merge = errors && errors->is_boolean() && errors->get<bool>();

  Properties result;
  {
    std::lock_guard lock(featureFlagsLock_);
    if (requestId && requestId->is_string()) {
      requestId_ = requestId->get<std::string>();
      storage_->setJson(StorageKey::requestId, *requestId_);
    }
    if (evaluatedAt && evaluatedAt->is_number_integer()) {
      evaluatedAt_ = evaluatedAt->get<std::int64_t>();
      storage_->setJson(StorageKey::evaluatedAt, *evaluatedAt_);
    }
    if (minimal && minimal->is_boolean()) {
      minimalFlagCalledEvents_ = minimal->get<bool>();
      storage_->setJson(StorageKey::minimalFlagCalledEvents, *minimalFlagCalledEvents_);
    } else {
      minimalFlagCalledEvents_.reset();
      storage_->remove(StorageKey::minimalFlagCalledEvents);
    }
    if (merge) {
      const Properties cachedDetails =
          getCachedDictionary(flags_, StorageKey::flags).value_or(Properties::object());
      const Properties cachedValues =
          getCachedDictionary(featureFlags_, StorageKey::enabledFeatureFlags).value_or(Properties::object());
      const Properties cachedPayloads =
          getCachedDictionary(featureFlagPayloads_, StorageKey::enabledFeatureFlagPayloads)
              .value_or(Properties::object());
      if (details) {
        flags_ = merged(cachedDetails, *details);
        storage_->setJson(StorageKey::flags, *flags_);
      }
      featureFlags_ = merged(cachedValues, *newFlags);
      featureFlagPayloads_ = merged(cachedPayloads, *newPayloads);
    } else {
      if (details) {
        flags_ = *details;
        storage_->setJson(StorageKey::flags, *flags_);
      }
      featureFlags_ = *newFlags;
      featureFlagPayloads_ = *newPayloads;
    }
    storage_->setJson(StorageKey::enabledFeatureFlags, *featureFlags_);
    storage_->setJson(StorageKey::enabledFeatureFlagPayloads, *featureFlagPayloads_);
    flagsLoadedFromRemote_ = true;
    result = *featureFlags_;
  }
  notifyFeatureFlagsAndRelease(result);
  callback(result);
}

void DiziZozRemoteConfig::normalizeResponse(Properties& response) {
  const Value* detail = member(response, "flags");
  if (!detail || !detail->is_object()) return;
  Properties flags = Properties::object();
  Properties payloads = Properties::object();
  for (auto it = detail->begin(); it != detail->end(); ++it) {
    const Value& flag = it.value();
    if (!flag.is_object()) continue;
    const Value* metadata = member(flag, "metadata");
    const Value* payload = metadata ? member(*metadata, "payload") : nullptr;
    if (const Value* variant = member(flag, "variant"); variant && variant->is_string()) {
      flags[it.key()] = *variant;
      if (payload) payloads[it.key()] = *payload;
      continue;
    }
    const Value* enabled = member(flag, "enabled");
    if (!enabled || !enabled->is_boolean()) continue;
    flags[it.key()] = *enabled;
    if (enabled->get<bool>() && payload) payloads[it.key()] = *payload;
  }
  response["featureFlags"] = std::move(flags);
  response["featureFlagPayloads"] = std::move(payloads);
}

void DiziZozRemoteConfig::notifyFeatureFlags(const std::optional<Properties>& flags) {
  environment_.mainExecutor->post([self = shared_from_this(), flags] {
    self->onFeatureFlagsLoaded.invoke(flags);
    if (self->environment_.notificationCenter)
      self->environment_.notificationCenter->post(std::string(DiziZozSDK::didReceiveFeatureFlags));
  });
}

void DiziZozRemoteConfig::notifyFeatureFlagsAndRelease(const std::optional<Properties>& flags) {
  notifyFeatureFlags(flags);
  std::optional<PendingFeatureFlagsRequest> next;
  {
    std::lock_guard lock(loadingFeatureFlagsLock_);
    loadingFeatureFlags_ = false;
    next = std::exchange(pendingFeatureFlagsRequest_, std::nullopt);
  }
  if (next) loadFeatureFlags(std::move(*next));
}

void DiziZozRemoteConfig::clearFeatureFlags() {
  std::lock_guard lock(featureFlagsLock_);
  clearFeatureFlagsLocked();
}

void DiziZozRemoteConfig::clearFeatureFlagsLocked() {
  flags_ = Properties::object();
  featureFlags_ = Properties::object();
  featureFlagPayloads_ = Properties::object();
  storage_->setJson(StorageKey::flags, *flags_);
  storage_->setJson(StorageKey::enabledFeatureFlags, *featureFlags_);
  storage_->setJson(StorageKey::enabledFeatureFlagPayloads, *featureFlagPayloads_);
  requestId_.reset();
  evaluatedAt_.reset();
  minimalFlagCalledEvents_.reset();
  storage_->remove(StorageKey::requestId);
  storage_->remove(StorageKey::evaluatedAt);
  storage_->remove(StorageKey::minimalFlagCalledEvents);
}

void DiziZozRemoteConfig::clear() {
  {
    std::lock_guard lock(featureFlagsLock_);
    clearFeatureFlagsLocked();
    bootstrappedFlags_ = Properties::object();
    bootstrappedPayloads_ = Properties::object();
    flagsLoadedFromRemote_ = false;
  }
  {
    std::lock_guard lock(sessionReplayLock_);
    sessionReplayFlagActive_ = false;
  }
  {
    std::lock_guard lock(errorTrackingLock_);
    autoCaptureExceptions_ = false;
  }
  resetPersonPropertiesForFlags();
  std::lock_guard lock(groupPropertiesForFlagsLock_);
  groupPropertiesForFlags_ = Properties::object();
  storage_->setJson(StorageKey::groupPropertiesForFlags, groupPropertiesForFlags_);
}

// ---- Flag properties ----

Properties DiziZozRemoteConfig::getPersonPropertiesForFlags() {
  Properties stored;
  {
    std::lock_guard lock(personPropertiesForFlagsLock_);
    stored = personPropertiesForFlags_;
  }
  if (!config_->setDefaultPersonProperties || !getDefaultPersonProperties_) return stored;
  // The defaults come from the client, which takes its own locks (set-up's among them) and calls into
  // this store while holding them: asked with this store's lock held, the two would wait for each other.
  return merged(getDefaultPersonProperties_(), stored);
}

void DiziZozRemoteConfig::setPersonPropertiesForFlags(const Properties& properties) {
  bool changed;
  {
    std::lock_guard lock(personPropertiesForFlagsLock_);
    Properties updated = merged(personPropertiesForFlags_, properties);
    storage_->setJson(StorageKey::personPropertiesForFlags, updated);
    changed = updated != personPropertiesForFlags_;
    personPropertiesForFlags_ = std::move(updated);
  }
  if (changed) onPersonPropertiesForFlagsChanged.invoke();
}

void DiziZozRemoteConfig::resetPersonPropertiesForFlags() {
  bool hadProperties;
  {
    std::lock_guard lock(personPropertiesForFlagsLock_);
    hadProperties = !personPropertiesForFlags_.empty();
    personPropertiesForFlags_ = Properties::object();
    storage_->setJson(StorageKey::personPropertiesForFlags, personPropertiesForFlags_);
  }
  if (hadProperties) onPersonPropertiesForFlagsChanged.invoke();
}

void DiziZozRemoteConfig::setGroupPropertiesForFlags(const std::string& groupType,
                                                     const Properties& properties) {
  std::lock_guard lock(groupPropertiesForFlagsLock_);
  groupPropertiesForFlags_[groupType] =
      merged(groupPropertiesForFlags_.value(groupType, Properties::object()), properties);
  storage_->setJson(StorageKey::groupPropertiesForFlags, groupPropertiesForFlags_);
}

void DiziZozRemoteConfig::resetGroupPropertiesForFlags(const std::optional<std::string>& groupType) {
  std::lock_guard lock(groupPropertiesForFlagsLock_);
  if (groupType)
    groupPropertiesForFlags_.erase(*groupType);
  else
    groupPropertiesForFlags_ = Properties::object();
  storage_->setJson(StorageKey::groupPropertiesForFlags, groupPropertiesForFlags_);
}

// ---- Reads ----

Properties DiziZozRemoteConfig::getFeatureFlags() {
  return cachedFlags().value_or(Properties::object());
}

std::optional<DiziZozFeatureFlagResult> DiziZozRemoteConfig::getFeatureFlagResult(const std::string& key) {
  std::optional<Value> flagValue;
  std::optional<Value> payload;
  {
    std::lock_guard lock(featureFlagsLock_);
    if (const auto& flags = getCachedDictionary(featureFlags_, StorageKey::enabledFeatureFlags))
      if (const Value* entry = member(*flags, key)) flagValue = *entry;
    if (const auto& payloads =
            getCachedDictionary(featureFlagPayloads_, StorageKey::enabledFeatureFlagPayloads))
      if (const Value* entry = member(*payloads, key)) payload = *entry;
  }
  if (!flagValue) return std::nullopt;
  return makeFeatureFlagResult(key, *flagValue, payload);
}

std::optional<std::vector<DiziZozFeatureFlagResult>> DiziZozRemoteConfig::getAllFeatureFlagResults() {
  std::optional<Properties> flags;
  Properties payloads;
  {
    std::lock_guard lock(featureFlagsLock_);
    flags = getCachedDictionary(featureFlags_, StorageKey::enabledFeatureFlags);
    payloads = getCachedDictionary(featureFlagPayloads_, StorageKey::enabledFeatureFlagPayloads)
                   .value_or(Properties::object());
  }
  if (!flags) return std::nullopt;
  std::vector<DiziZozFeatureFlagResult> results;
  for (auto it = flags->begin(); it != flags->end(); ++it) {
    const Value* payload = member(payloads, it.key());
    results.push_back(
        makeFeatureFlagResult(it.key(), it.value(), payload ? std::optional<Value>(*payload) : std::nullopt));
  }
  return results;
}

std::optional<Properties> DiziZozRemoteConfig::getFeatureFlagDetails(const std::string& key) {
  std::lock_guard lock(featureFlagsLock_);
  const auto& details = getCachedDictionary(flags_, StorageKey::flags);
  if (!details) return std::nullopt;
  if (const Value* entry = member(*details, key)) return *entry;
  return std::nullopt;
}

std::optional<BootstrapCallMetadata> DiziZozRemoteConfig::getBootstrapCallMetadata(const std::string& key) {
  std::lock_guard lock(featureFlagsLock_);
  const Value* response = member(bootstrappedFlags_, key);
  if (!response) return std::nullopt;
  const Value* payload = member(bootstrappedPayloads_, key);
  return BootstrapCallMetadata{.response = *response,
                               .payload = payload ? std::optional<Value>(*payload) : std::nullopt,
                               .usedBootstrapValue = !flagsLoadedFromRemote_};
}

std::optional<std::string> DiziZozRemoteConfig::lastRequestId() {
  std::lock_guard lock(featureFlagsLock_);
  if (!requestId_) requestId_ = storage_->getTypedValue<std::string>(StorageKey::requestId);
  return requestId_;
}

std::optional<std::int64_t> DiziZozRemoteConfig::lastEvaluatedAt() {
  std::lock_guard lock(featureFlagsLock_);
  if (!evaluatedAt_) evaluatedAt_ = storage_->getInt(StorageKey::evaluatedAt);
  return evaluatedAt_;
}

std::optional<bool> DiziZozRemoteConfig::sendMinimalFlagCalledEvents() {
  std::lock_guard lock(featureFlagsLock_);
  if (!minimalFlagCalledEvents_)
    minimalFlagCalledEvents_ = storage_->getTypedValue<bool>(StorageKey::minimalFlagCalledEvents);
  return minimalFlagCalledEvents_.value_or(false);
}

DiziZozFeatureFlagResult DiziZozRemoteConfig::makeFeatureFlagResult(const std::string& key,
                                                                    const Value& flagValue,
                                                                    const std::optional<Value>& payload) {
  DiziZozFeatureFlagResult result{.key = key};
  result.payload = payload;
  if (payload && payload->is_string()) {
    try {
      result.payload = Value::parse(payload->get_ref<const std::string&>());
    } catch (const Value::exception& error) {
      hedgeLog("Error parsing the object " + payload->dump() + ": " + error.what());
    }
  }
  if (flagValue.is_string()) {
    result.enabled = true;
    result.variant = flagValue.get<std::string>();
  } else if (flagValue.is_boolean()) {
    result.enabled = flagValue.get<bool>();
  }
  return result;
}

}  // namespace dizizoz
