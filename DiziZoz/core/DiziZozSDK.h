#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozIntegration.h"
#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozQueueing.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/RegistrationToken.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

class DiziZozContext;
class DiziZozExceptionStepsBuffering;
class DiziZozLogger;
class DiziZozPushSubscriptionHandling;
class DiziZozReachabilityMonitoring;
class DiziZozRemoteConfigProviding;
class DiziZozReplayQueueing;
class DiziZozSessionManager;
class DiziZozStorage;

// The analytics client: the one object through which the application and the integrations talk to
// analytics. One instance per analytics project; `shared()` is the process-wide one.
//
// A client starts disabled; setup() checks the options, builds the client's parts from the services
// record given at construction and enables it. It never fails its caller: refused calls return their
// empty value and print at most one diagnostic line (debug option on).
//
// Every operation is safe from any thread. Each concern has its own lock; no lock is held while events,
// notifications or subscribers run. Clients live in shared_ptrs (create(), shared()): the closures a
// client hands to its parts hold it weakly and do nothing once it is gone.
class DiziZozSDK : public std::enable_shared_from_this<DiziZozSDK> {
  struct Passkey {};

 public:
  // Posted (no user info) on the services' notification center, on the main executor, after each
  // successful set-up.
  static constexpr std::string_view didStartNotification = "DiziZozDidStart";
  // The refusal lines every operation shares.
  static constexpr std::string_view notSetUpMessage =
      "[DiziZoz] DiziZoz method was called without `setup` being complete. Call wil be ignored.";
  static constexpr std::string_view optOutMessage = "[DiziZoz] DiziZoz is in OptOut state.";

  // A disabled client over `services`; `config` stands until setup() replaces it.
  static std::shared_ptr<DiziZozSDK> create(std::shared_ptr<DiziZozConfig> config, DiziZozServices services);
  DiziZozSDK(Passkey, std::shared_ptr<DiziZozConfig> config, DiziZozServices services);
  ~DiziZozSDK();
  DiziZozSDK(const DiziZozSDK&) = delete;
  DiziZozSDK& operator=(const DiziZozSDK&) = delete;

  // The process-wide client, made on first use (with an empty project token, disabled until set up)
  // over the installed services record, and never destroyed.
  static const std::shared_ptr<DiziZozSDK>& shared();

  // Sets the client up with `config` (kept and shared: the client writes `optOut` and `storageManager`
  // back into it). Refused, changing only the debug switch, when the client is already set up or the
  // project token is empty or cannot name a storage folder.
  void setup(std::shared_ptr<DiziZozConfig> config);

  // Sets the diagnostic switch of every client; refused before set-up.
  void debug(bool enabled);

  // The identity of the installation; the empty text before set-up.
  std::string getDistinctId();
  std::string getAnonymousId();
  std::string getDeviceId();

  // Flushes the event, replay and logs queues, then lets the push handler resend what is pending.
  void flush();

  // The options in force: the constructor's, then setup()'s.
  std::shared_ptr<DiziZozConfig> config() const;
  DiziZozSessionManager& sessionManager() const { return *sessionManager_; }
  const DiziZozServices& services() const { return services_; }

  // The parts set-up built; null before set-up (the reachability monitor and push handler also when the
  // services give none).
  std::shared_ptr<DiziZozStorage> storage() const;
  std::shared_ptr<DiziZozRemoteConfigProviding> remoteConfig() const;
  std::shared_ptr<DiziZozReachabilityMonitoring> reachability() const;
  std::shared_ptr<DiziZozContext> context() const;
  std::shared_ptr<DiziZozPushSubscriptionHandling> pushSubscriptionHandler() const;
  std::shared_ptr<DiziZozQueueing<DiziZozEvent>> queue() const;
  std::shared_ptr<DiziZozReplayQueueing> replayQueue() const;
  std::shared_ptr<DiziZozQueueing<DiziZozLogRecord>> logsQueue() const;
  std::shared_ptr<DiziZozLogger> logger() const;
  void setLogger(std::shared_ptr<DiziZozLogger> logger);
  std::vector<std::shared_ptr<DiziZozIntegration>> installedIntegrations() const;

  // Every event after it was handed to its queue.
  DiziZozMulticastCallback<DiziZozEvent> onEventCaptured;
  // {"distinct_id", "event_properties"} after set-up and each change of what events would carry.
  DiziZozMulticastCallback<Properties> onEventContextChanged;
  // The full list of exception steps after each change of the buffer.
  DiziZozMulticastCallback<std::vector<Properties>> onExceptionStepsChanged;

  // True once set-up has passed its checks. Takes the set-up lock.
  bool isEnabled() const;

 private:
  // The set-up check of every public operation: true when set up; otherwise prints the not-set-up line.
  bool checkSetup() const;
  void reconcileBootstrapIdentity();  // under setupLock_
  void installIntegrations();         // under setupLock_
  void uninstallIntegrations();       // under setupLock_
  void createExceptionStepsBufferIfNeeded();
  void publishExceptionSteps();
  void notifyContextDidChange();
  // Reports a flag value the application read (the remote configuration calls it).
  void reportFeatureFlagCalled(const std::string& flagKey, const std::optional<Value>& flagValue);
  DiziZozPushProviders makePushProviders();
  std::shared_ptr<DiziZozExceptionStepsBuffering> exceptionStepsBuffer() const;

  const DiziZozServices services_;

  mutable std::recursive_mutex setupLock_;
  bool enabled_ = false;  // setupLock_

  mutable std::mutex configLock_;
  std::shared_ptr<DiziZozConfig> config_;  // configLock_

  std::mutex optOutLock_;
  std::mutex groupsLock_;
  std::mutex flagCallReportedLock_;
  std::mutex personPropsLock_;
  std::mutex cachedPersonPropertiesLock_;
  std::mutex identifyLock_;
  std::optional<std::string> cachedPersonPropertiesHash_;  // cachedPersonPropertiesLock_
  std::mutex lastScreenLock_;
  std::optional<std::string> lastScreenName_;                                  // lastScreenLock_
  std::map<std::string, std::vector<std::optional<Value>>> flagCallReported_;  // flagCallReportedLock_

  mutable std::mutex exceptionStepsBufferLock_;
  std::shared_ptr<DiziZozExceptionStepsBuffering> exceptionStepsBuffer_;  // exceptionStepsBufferLock_

  // What set-up builds. Written under setupLock_ and partsLock_, read under partsLock_.
  mutable std::mutex partsLock_;
  std::shared_ptr<DiziZozStorage> storage_;
  std::shared_ptr<DiziZozRemoteConfigProviding> remoteConfig_;
  std::shared_ptr<DiziZozReachabilityMonitoring> reachability_;
  std::shared_ptr<DiziZozContext> context_;
  std::shared_ptr<DiziZozPushSubscriptionHandling> pushSubscriptionHandler_;
  std::shared_ptr<DiziZozQueueing<DiziZozEvent>> queue_;
  std::shared_ptr<DiziZozReplayQueueing> replayQueue_;
  std::shared_ptr<DiziZozQueueing<DiziZozLogRecord>> logsQueue_;
  std::shared_ptr<DiziZozLogger> logger_;

  std::vector<std::shared_ptr<DiziZozIntegration>> installedIntegrations_;  // setupLock_

  const std::shared_ptr<DiziZozSessionManager> sessionManager_;
  RegistrationToken sessionIdChangedToken_;    // setupLock_
  RegistrationToken didEnterBackgroundToken_;  // setupLock_
};

}  // namespace dizizoz
