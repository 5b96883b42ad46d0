#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/Value.h"
#include "platform/Executor.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

namespace dizizoz {

class DiziZozApi;
class DiziZozConfig;

// The one store, per client, of what the analytics service says at run time: the remote configuration
// (fetched once per start, cached in "dizizoz.remoteConfig") and the feature flags with their payloads
// (key files "dizizoz.enabledFeatureFlags", "dizizoz.enabledFeatureFlagPayloads", "dizizoz.flags", ...).
//
// Threads: every operation may be called from any thread. Loads start on the store's serial queue
// ("com.dizizoz.RemoteConfig"), flags answers are applied there one at a time, and listeners
// (onRemoteConfigLoaded, onFeatureFlagsLoaded, "DiziZozDidReceiveFeatureFlags") run on the main executor
// after the state they report has been stored. Each lock guards only its own fields; none is held while a
// callback runs or the client is asked for anything (its default person properties, a flag-call report).
class DiziZozRemoteConfig final : public DiziZozRemoteConfigProviding,
                                  public std::enable_shared_from_this<DiziZozRemoteConfig> {
 public:
  static constexpr std::string_view dispatchQueueLabel = "com.dizizoz.RemoteConfig";

  struct Environment {
    std::shared_ptr<platform::Executor> dispatchQueue;  // serial
    std::shared_ptr<platform::Executor> mainExecutor;
    std::shared_ptr<platform::NotificationCenter> notificationCenter;
  };

  // Builds the store (bootstrap flags, flag properties, session-recording and error-tracking settings from
  // the cached configuration) and starts the one remote-configuration load of this start. `parts.api`
  // must not be null.
  static std::shared_ptr<DiziZozRemoteConfig> create(DiziZozServices::RemoteConfigParts parts,
                                                     Environment environment);

  // The services-record factory: a store on a new serial queue per client; the inert store when the
  // record gives no API client.
  static decltype(DiziZozServices::makeRemoteConfig) servicesFactory(
      std::function<std::shared_ptr<platform::SerialQueue>(std::string_view label)> makeSerialQueue,
      std::shared_ptr<platform::Executor> mainExecutor,
      std::shared_ptr<platform::NotificationCenter> notificationCenter);

  DiziZozRemoteConfig(const DiziZozRemoteConfig&) = delete;
  DiziZozRemoteConfig& operator=(const DiziZozRemoteConfig&) = delete;

  // Remote configuration.
  std::optional<Properties> getRemoteConfig();
  bool hasFetchedRemoteConfig();
  bool hasCachedRemoteConfig();
  bool isAutocaptureExceptionsEnabled();
  bool isSessionReplayFlagActive();

  // Flags.
  Properties getFeatureFlags() override;
  std::optional<DiziZozFeatureFlagResult> getFeatureFlagResult(const std::string& key) override;
  std::optional<std::vector<DiziZozFeatureFlagResult>> getAllFeatureFlagResults() override;
  std::optional<Properties> getFeatureFlagDetails(const std::string& key) override;
  std::optional<BootstrapCallMetadata> getBootstrapCallMetadata(const std::string& key) override;
  std::optional<std::string> lastRequestId() override;
  std::optional<std::int64_t> lastEvaluatedAt() override;
  std::optional<bool> sendMinimalFlagCalledEvents() override;

  void reloadFeatureFlags(ReloadCallback callback) override;
  void clear() override;

  void setPersonPropertiesForFlags(const Properties& properties) override;
  void resetPersonPropertiesForFlags() override;
  Properties getPersonPropertiesForFlags();
  void setGroupPropertiesForFlags(const std::string& groupType, const Properties& properties) override;
  void resetGroupPropertiesForFlags(const std::optional<std::string>& groupType) override;

  DiziZozMulticastCallback<std::optional<Properties>> onRemoteConfigLoaded;
  DiziZozMulticastCallback<std::optional<Properties>> onFeatureFlagsLoaded;
  DiziZozMulticastCallback<void> onPersonPropertiesForFlagsChanged;

 private:
  using StorageKey = DiziZozStorage::StorageKey;
  using FlagCalled = std::function<void(const std::string&, const std::optional<Value>&)>;

  struct PendingFeatureFlagsRequest {
    std::string distinctId;
    std::optional<std::string> anonymousId;
    std::optional<std::string> deviceId;
    std::map<std::string, std::string> groups;
    ReloadCallback callback;
  };

  DiziZozRemoteConfig(DiziZozServices::RemoteConfigParts parts, Environment environment);

  std::optional<Properties>& getCachedDictionary(std::optional<Properties>& field, StorageKey key);
  std::optional<Properties> cachedFlags();  // takes featureFlagsLock

  void preloadRemoteConfig();
  void reloadRemoteConfig(std::function<void(const std::optional<Properties>&)> callback);
  void onStartupRemoteConfig(const std::optional<Properties>& config);
  void processErrorTrackingConfig(const std::optional<Properties>& config);
  void preloadErrorTrackingConfig();
  void preloadSessionReplay();
  bool isRecordingActive(const Properties& flags, const Properties& sessionRecording);

  void filterBootstrap();
  bool seedBootstrapFlagsIfNeeded();
  void loadCachedPropertiesForFlags();
  void preloadFeatureFlags();
  void loadFeatureFlags(PendingFeatureFlagsRequest request);
  void handleFlagsResponse(std::optional<Properties> response, const ReloadCallback& callback);
  static void normalizeResponse(Properties& response);
  void notifyFeatureFlags(const std::optional<Properties>& flags);
  void notifyFeatureFlagsAndRelease(const std::optional<Properties>& flags);
  void clearFeatureFlags();
  void clearFeatureFlagsLocked();
  static DiziZozFeatureFlagResult makeFeatureFlagResult(const std::string& key, const Value& flagValue,
                                                        const std::optional<Value>& payload);

  const std::string hasFeatureFlagsKey_ = "hasFeatureFlags";
  const std::shared_ptr<DiziZozConfig> config_;
  const std::shared_ptr<DiziZozStorage> storage_;
  const std::shared_ptr<DiziZozApi> api_;
  const std::function<Properties()> getDefaultPersonProperties_;
  const FlagCalled featureFlagCalledCallback_;
  const Environment environment_;
  bool seededAtConstruction_ = false;

  std::mutex loadingFeatureFlagsLock_;
  bool loadingFeatureFlags_ = false;
  std::optional<PendingFeatureFlagsRequest> pendingFeatureFlagsRequest_;

  std::mutex sessionReplayLock_;
  bool sessionReplayFlagActive_ = false;

  std::mutex errorTrackingLock_;
  bool autoCaptureExceptions_ = false;

  std::mutex featureFlagsLock_;
  std::optional<Properties> flags_;
  std::optional<Properties> featureFlags_;
  std::optional<Properties> featureFlagPayloads_;
  std::optional<std::string> requestId_;
  std::optional<std::int64_t> evaluatedAt_;
  std::optional<bool> minimalFlagCalledEvents_;
  Properties bootstrappedFlags_ = Properties::object();
  Properties bootstrappedPayloads_ = Properties::object();
  bool flagsLoadedFromRemote_ = false;

  std::mutex remoteConfigLock_;
  std::optional<Properties> remoteConfig_;
  bool remoteConfigDidFetch_ = false;
  bool remoteConfigWasCached_ = false;

  std::mutex loadingRemoteConfigLock_;
  bool loadingRemoteConfig_ = false;

  std::mutex personPropertiesForFlagsLock_;
  Properties personPropertiesForFlags_ = Properties::object();

  std::mutex groupPropertiesForFlagsLock_;
  Properties groupPropertiesForFlags_ = Properties::object();  // group type -> properties
};

}  // namespace dizizoz
