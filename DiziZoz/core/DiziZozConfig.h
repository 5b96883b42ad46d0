#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/BeforeSendChain.h"
#include "DiziZoz/core/DiziZozBootstrapConfig.h"
#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozLogsConfig.h"
#include "DiziZoz/core/DiziZozPropertiesSanitizer.h"
#include "DiziZoz/core/DiziZozSurveysConfig.h"
#include "DiziZoz/core/LockedSharedPtr.h"
#include "DiziZoz/core/Uuid.h"

namespace dizizoz {

class DiziZozIntegration;  // DiziZoz/core/DiziZozIntegration.h
class DiziZozStorageManager;

// The SDK's name and version as sent to the analytics service. Change them only before set-up.
extern std::string diziZozSdkName;  // initially "dizizoz-ios"
inline constexpr std::string_view diziZoziOSSdkName = "dizizoz-ios";
extern std::string diziZozVersion;  // initially "3.69.5"

enum class DiziZozDataMode : std::int64_t { wifi = 0, cellular = 1, any = 2 };
// Nothing for a raw value outside 0...2.
std::optional<DiziZozDataMode> dataModeFromRawValue(std::int64_t rawValue);

enum class DiziZozPersonProfiles : std::int64_t { never = 0, always = 1, identifiedOnly = 2 };
std::optional<DiziZozPersonProfiles> personProfilesFromRawValue(std::int64_t rawValue);

// The automatic integrations, in the order they are installed.
enum class DiziZozIntegrationKind {
  errorTrackingAutoCapture,
  screenViews,
  appLifecycle,
  pushNotificationOpened
};

// The analytics client's options. The application creates one, changes options and hands it to set-up,
// which keeps it (by reference) for the life of the client and writes `optOut` and `storageManager` back.
// Options are plain fields read without a lock at the moment of use: change them before set-up, from the
// thread that owns the client. `optOut` and `storageManager` are the exceptions: the client changes them
// while it runs.
class DiziZozConfig {
 public:
  // The analytics service's default ingestion address (US region).
  static constexpr std::string_view defaultHost = "https://us.i.dizizoz.com";
  // The EU region's ingestion address, and the two regions' addresses of static assets, from which a
  // client configured with a default ingestion address fetches its remote configuration.
  static constexpr std::string_view defaultEUHost = "https://eu.i.dizizoz.com";
  static constexpr std::string_view usAssetsHost = "https://us-assets.i.dizizoz.com";
  static constexpr std::string_view euAssetsHost = "https://eu-assets.i.dizizoz.com";

  // The token is stored with surrounding white space removed; an empty token is accepted here and refused
  // by set-up. A host that is blank or not an absolute http(s) address is replaced by `defaultHost`.
  // `bundle` gives the defaults that depend on the application (logs service name, in-app modules,
  // storage folder).
  explicit DiziZozConfig(std::string_view projectToken, const DiziZozBundleInfo& bundle = {});
  DiziZozConfig(std::string_view projectToken, std::string_view host, const DiziZozBundleInfo& bundle = {});
  DiziZozConfig(const DiziZozConfig&) = delete;
  DiziZozConfig& operator=(const DiziZozConfig&) = delete;

  // Deprecated spellings of the constructors (log the deprecation when debug logging is on).
  static std::shared_ptr<DiziZozConfig> withApiKey(std::string_view apiKey,
                                                   const DiziZozBundleInfo& bundle = {});
  static std::shared_ptr<DiziZozConfig> withApiKey(std::string_view apiKey, std::string_view host,
                                                   const DiziZozBundleInfo& bundle = {});

  const std::string& host() const { return host_; }
  const std::string& projectToken() const { return projectToken_; }
  const DiziZozBundleInfo& bundle() const { return bundle_; }

  int flushAt = 20;
  int maxQueueSize = 1000;
  int maxBatchSize = 50;
  double flushIntervalSeconds = 30.0;
  int maxRetries = 3;
  int featureFlagRequestMaxRetries = 1;
  DiziZozDataMode dataMode = DiziZozDataMode::any;
  bool sendFeatureFlagEvent = true;
  bool preloadFeatureFlags = true;
  bool captureApplicationLifecycleEvents = true;
  bool captureScreenViews = true;
  // When false, integrations that need to wrap system callbacks are not installed.
  bool enableSwizzling = true;
  bool capturePushNotificationSubscriptions = true;  // kept for callers; nothing reads it
  bool capturePushNotificationOpened = true;
  // (distinct id, app id, completion): asked for the identity token push-subscription requests carry.
  std::function<void(const std::string&, const std::string&, std::function<void(std::optional<std::string>)>)>
      pushIdentityProvider;
  bool debug = false;
  // Set-up replaces it with the stored opt-out state; capturing threads read it without a lock.
  std::atomic<bool> optOut{false};
  // Applied to every newly generated anonymous id.
  std::function<Uuid(Uuid)> getAnonymousId = [](Uuid id) { return id; };
  std::optional<DiziZozBootstrapConfig> bootstrap;
  bool reuseAnonymousId = false;
  std::shared_ptr<DiziZozPropertiesSanitizer> propertiesSanitizer;
  DiziZozPersonProfiles personProfiles = DiziZozPersonProfiles::identifiedOnly;
  bool setDefaultPersonProperties = true;
  std::optional<std::vector<std::string>> evaluationContexts;
  std::optional<std::string> appGroupIdentifier;
  std::string snapshotEndpoint = "/s/";
  const std::shared_ptr<DiziZozErrorTrackingConfig> errorTrackingConfig;
  const std::shared_ptr<DiziZozLogsConfig> logs;
  std::optional<std::map<std::string, std::string>> requestHeaders;
  bool disableReachabilityForTesting = false;
  bool disableQueueTimerForTesting = false;
  bool disableFlushOnBackgroundForTesting = false;
  bool disableRemoteConfigForTesting = false;
  // Set by set-up to the identity cache it creates (or uses), taken away by close(); the client's parts
  // read it from their own threads meanwhile, so it has a lock of its own.
  LockedSharedPtr<DiziZozStorageManager> storageManager;
  bool surveys = true;  // kept for callers; nothing reads it
  std::shared_ptr<DiziZozSurveysConfig> surveysConfig = std::make_shared<DiziZozSurveysConfig>();

  // Deprecated: the project token.
  const std::string& apiKey() const;
  // Remote configuration is always on; setting false only logs.
  bool remoteConfig() const { return true; }
  void setRemoteConfig(bool enabled);
  // Deprecated name of `evaluationContexts`.
  const std::optional<std::vector<std::string>>& evaluationEnvironments() const { return evaluationContexts; }
  void setEvaluationEnvironments(std::optional<std::vector<std::string>> contexts);

  // Replaces the whole before-send chain of events (an empty list passes events through).
  using BeforeSendBlock = BeforeSendChain<DiziZozEvent>::Block;
  void setBeforeSend(std::vector<BeforeSendBlock> blocks) { beforeSend_.set(std::move(blocks)); }
  template <typename... Blocks>
  void setBeforeSend(BeforeSendBlock first, Blocks... rest) {
    setBeforeSend(std::vector<BeforeSendBlock>{std::move(first), BeforeSendBlock(std::move(rest))...});
  }
  // Runs the chain on a built event; nothing means the event is dropped. Any thread.
  std::optional<DiziZozEvent> runBeforeSend(DiziZozEvent event) const {
    return beforeSend_.run(std::move(event));
  }

  // New integration objects for the options that are on, in install order. Kinds whose folder has not
  // registered a factory are left out.
  std::vector<std::shared_ptr<DiziZozIntegration>> getIntegrations() const;

  // The process-wide table the integration folders fill at start-up. Thread-safe.
  using IntegrationFactory = std::function<std::shared_ptr<DiziZozIntegration>()>;
  static void setIntegrationFactory(DiziZozIntegrationKind kind, IntegrationFactory factory);

 private:
  std::string host_;
  std::string projectToken_;
  DiziZozBundleInfo bundle_;
  BeforeSendChain<DiziZozEvent> beforeSend_;
};

// True for an absolute http or https address with a host and no white space or control characters.
bool isUsableHostUrl(std::string_view text);
// `text` without leading and trailing white space and line breaks.
std::string trimmedWhitespace(std::string_view text);

}  // namespace dizizoz
