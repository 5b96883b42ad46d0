#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "DiziZoz/core/DiziZozCaptureArguments.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozFeatureFlagResult.h"
#include "DiziZoz/core/DiziZozIntegration.h"
#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozNotificationResponse.h"
#include "DiziZoz/core/DiziZozQueueing.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/DiziZozUserActivity.h"
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
class DiziZozStorageManager;

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
  // Posted (no user info) on the services' notification center, on the main executor, by the remote
  // configuration each time flags have loaded.
  static constexpr std::string_view didReceiveFeatureFlags = "DiziZozDidReceiveFeatureFlags";
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

  // Flushes the event, replay and logs queues, then lets the push handler resend what is pending. Also
  // while opted out: what was queued before is still the user's to send.
  void flush();

  // --- Opt-out and the client's end. ---

  // True while opted out, and before set-up.
  bool isOptOut();
  // Stops (starts again) every capture and persists the choice for the next set-up. Opting out makes the
  // push handler forget its identity token and uninstalls the integrations; opting in installs them again
  // and announces the context. Queued events, the session and the identity are left as they are.
  void optOut();
  void optIn();
  // Takes the client back to disabled: its API client refuses every request from now on (work of its
  // parts still under way sends nothing more), the queues are stopped and dropped (their files stay for
  // the next set-up), the identity cache forgets its values, the session ends, the integrations are
  // uninstalled and diagnostics of every client are switched off. A later setup() starts it again.
  void close();
  // A further client, independent of shared(), set up with `config` over `services`.
  static std::shared_ptr<DiziZozSDK> with(std::shared_ptr<DiziZozConfig> config,
                                          DiziZozServices services = DiziZozServices::installed());

  // --- Identity, person properties and super properties. Run on the caller's thread. ---

  // Ties the installation to `distinctId`. The anonymous user becomes `distinctId` ("$identify" with
  // "$anon_distinct_id", straight to the event queue; flags reload); the current id, not yet identified,
  // is marked identified ("$set"); an identified user keeps its id until reset() (diagnostic line); the
  // same identified id with person properties sends "$set" unless it repeats the last one sent.
  void identify(const std::string& distinctId, std::optional<Properties> userProperties = std::nullopt,
                std::optional<Properties> userPropertiesSetOnce = std::nullopt);
  // "$set" with the person maps, unless both are empty or they repeat the last person properties sent
  // for the same distinct id. They also go to the person properties for flags (no reload).
  void setPersonProperties(std::optional<Properties> userPropertiesToSet,
                           std::optional<Properties> userPropertiesToSetOnce = std::nullopt);
  // Merges `properties` (sanitised) into the super properties every event carries, persisted.
  void registerProperties(const Properties& properties);
  // Removes one super property; the file is rewritten and the context announced even when it was absent.
  void unregister(const std::string& key);
  // "$create_alias" with {"alias": alias} for the current distinct id; the identity does not change.
  void alias(const std::string& alias);
  // Returns the installation to an anonymous user: the identity, flags, groups, super properties and
  // the stored opt-out are deleted (queued events, the device id and the in-memory opt-out stay), the
  // session is renewed, flags reload, and a registered push token moves from the old id to the new one.
  void reset();

  // --- Groups and the properties sent with flag requests. ---

  // Registers the user in group `type` = `key` (persisted; flags reload when the groups changed) and
  // sends "$groupidentify", with "$group_set" when properties are given.
  void group(const std::string& type, const std::string& key,
             std::optional<Properties> groupProperties = std::nullopt);
  // Person / group properties for flag requests only (never captured). Empty properties change nothing.
  void setPersonPropertiesForFlags(const Properties& properties, bool reloadFeatureFlags = true);
  void resetPersonPropertiesForFlags(bool reloadFeatureFlags = true);
  void setGroupPropertiesForFlags(const std::string& groupType, const Properties& properties,
                                  bool reloadFeatureFlags = true);
  // Forgets one group type's flag properties, or every type's when none is named.
  void resetGroupPropertiesForFlags(const std::optional<std::string>& groupType = std::nullopt,
                                    bool reloadFeatureFlags = true);

  // --- Capturing. Runs on the caller's thread up to the queue's add. ---

  // Records `event`: refused before set-up, while opted out, for an event name or given distinct id that
  // is not UTF-8, and for an exception event whose type is ignored. The properties are built from the
  // caller's maps (sanitised), the context, super properties, groups, flags, identity and session
  // (buildProperties), the event passes the before-send chain (buildEvent) and goes to the event queue,
  // or, named "$snapshot" and carrying a session id, to the replay queue; then to onEventCaptured.
  void capture(const std::string& event, DiziZozCaptureArguments arguments = {});

  // The properties an event gets. "Add" below writes a key only when it is still absent:
  //   shared properties (unless `appendSharedProps` is false, as for "$snapshot"): add the context's
  //   static and dynamic properties and dynamicContext(); set "$set", "$set_once" (the person maps when
  //   given), "$groups" (registered groups, plus the given ones for new group types), "$is_identified",
  //   "$process_person_profile" and "$screen_name" (the last screen, unless the caller names a screen);
  //   add "$lib" and "$lib_version"; set "$session_id" (at `timestamp`, which may start or rotate the
  //   session) unless the caller gives one; without shared properties set "distinct_id" unless the
  //   caller gives one; add the caller's properties; finally set the caller's "$feature/..." and
  //   "$active_feature_flags". A reserved key of the wrong type from the caller counts as absent.
  Properties buildProperties(const std::string& distinctId, const std::optional<Properties>& properties,
                             const std::optional<Properties>& userProperties,
                             const std::optional<Properties>& userPropertiesSetOnce,
                             const std::optional<DiziZozGroups>& groups, bool appendSharedProps,
                             std::optional<Date> timestamp);
  // The client's own per-event properties: the super properties, "$groups" (when any are registered),
  // "$feature/<key>" for each cached flag and "$active_feature_flags" (flags not false).
  Properties dynamicContext();
  // Whether events process a person profile: never, always, or (identified only) once the user is
  // identified or person processing was switched on.
  bool hasPersonProcessing();
  // Switches person processing on for `functionName`'s sake; false (with a diagnostic naming the
  // function) when person profiles are `never`.
  bool requirePersonProcessing(std::string_view functionName);
  // The finished event: the options' properties sanitizer (a result that is not an object keeps the
  // properties), a fresh version 7 id from the services' generator, then the before-send chain, run with
  // no lock held. Nothing when the chain drops the event or a hook throws (both logged). Text the hooks
  // leave that JSON cannot carry never passes: properties are sanitised again, and a name or distinct id
  // that is not UTF-8 drops the event.
  std::optional<DiziZozEvent> buildEvent(const std::string& event, const std::string& distinctId,
                                         Properties properties, Date timestamp);

  // Records a "$screen" event for `title` cleaned by DiziZozScreenNameSanitizer (nothing for a name that
  // cleans to nothing) with the sanitised `properties` over {"$screen_name": name}, remembers the name
  // for later events, publishes it on DI::main().screenViewPublisher() and, when it changed, announces
  // the new context. The name is remembered even when the client has no event queue.
  void screen(const std::string& title, std::optional<Properties> properties = std::nullopt);

  // The current session id, read without starting or rotating a session; nothing before set-up.
  std::optional<std::string> getSessionId();
  // Starts a new session / clears the session id. Refused before set-up.
  void startSession();
  void endSession();

  // "Deep Link Opened" with {"url": url} (and the referrer properties of DiziZozDeepLinkHelper when a
  // referrer is given), through capture().
  void captureDeepLink(const std::string& url, const std::optional<std::string>& referrer = std::nullopt);
  // The same for each address in order, skipping file addresses.
  void captureDeepLink(const std::vector<std::string>& urls);
  // The same for a web-browsing activity with a page address, with its referrer; any other activity is
  // ignored without a diagnostic.
  void captureDeepLink(const DiziZozUserActivity& userActivity);

  // Records one structured log line (see captureLogInternal); the level defaults to info.
  void captureLog(const std::string& body, DiziZozLogSeverity level = DiziZozLogSeverity::info,
                  std::optional<Properties> attributes = std::nullopt,
                  std::optional<std::string> traceId = std::nullopt,
                  std::optional<std::string> spanId = std::nullopt,
                  std::optional<std::int64_t> traceFlags = std::nullopt);
  // --- Handled failures and exception steps. ---

  // Records "$exception" for a handled failure: {"$exception_level": "error"} with the exception list (and
  // its debug images) of the services' exception processor, then the caller's `properties` copied over
  // them (so a caller may set "$exception_level" or the list itself); the capture pipeline attaches the
  // exception steps. A null exception_ptr is refused with a diagnostic line: there is nothing to report.
  void captureException(const std::exception_ptr& exception,
                        std::optional<Properties> properties = std::nullopt);
  void captureException(const std::error_code& error, std::optional<Properties> properties = std::nullopt);

  // Records a breadcrumb for later exception events: the caller's properties with "$message" = `message`
  // and "$timestamp" = now (API date text); a "$message" or "$timestamp" among the properties is dropped
  // with a diagnostic line. Refused (with its line) before set-up, while opted out, with steps disabled
  // and for an empty message; nothing happens while the client has no buffer.
  void addExceptionStep(const std::string& message, std::optional<Properties> properties = std::nullopt);

  // --- Integrations. Each runs under the set-up lock. ---

  // Installs `integration` unless that very object is installed already; keeps it only when it
  // installed ("Integration <type> added"). It does not consult `enableSwizzling`.
  void addIntegration(std::shared_ptr<DiziZozIntegration> integration);
  // Uninstalls `integration` and forgets it ("Integration <type> removed").
  void removeIntegration(const std::shared_ptr<DiziZozIntegration>& integration);

  // --- Feature flags, read from the remote configuration. ---
  //
  // Reading a flag's value (getFeatureFlagResult, getFeatureFlag, isFeatureEnabled) reports it as
  // "$feature_flag_called" when `sendFeatureFlagEvent` says so (the option, unless given): once per
  // distinct value of a flag for the life of the client. Before set-up every read answers nothing.

  // Asks the remote configuration for fresh flags. `callback` runs once the request has ended, on the
  // thread that ends it, whatever the outcome; at once when the client is not set up.
  void reloadFeatureFlags();
  void reloadFeatureFlags(std::function<void()> callback);
  std::optional<DiziZozFeatureFlagResult> getFeatureFlagResult(const std::string& key);
  std::optional<DiziZozFeatureFlagResult> getFeatureFlagResult(const std::string& key,
                                                               bool sendFeatureFlagEvent);
  // The flag's value: its variant text, else whether it is enabled.
  std::optional<Value> getFeatureFlag(const std::string& key);
  std::optional<Value> getFeatureFlag(const std::string& key, bool sendFeatureFlagEvent);
  // True for any variant (the empty text too) and for an enabled flag.
  bool isFeatureEnabled(const std::string& key);
  bool isFeatureEnabled(const std::string& key, bool sendFeatureFlagEvent);
  // The flag's payload; never reported.
  std::optional<Value> getFeatureFlagPayload(const std::string& key);
  // Every cached flag; nothing when none are cached. Never reported.
  std::optional<std::vector<DiziZozFeatureFlagResult>> getAllFeatureFlags();
  // "$feature_view" / "$feature_interaction" for `flag` with {"feature_flag": flag,
  // "feature_flag_variant": the value when it is text} and the person property "<event>/<flag>" = value.
  // The value is `flagVariant`, else the flag's current value (not reported); without one nothing is
  // captured.
  void captureFeatureView(const std::string& flag,
                          const std::optional<std::string>& flagVariant = std::nullopt);
  void captureFeatureInteraction(const std::string& flag,
                                 const std::optional<std::string>& flagVariant = std::nullopt);
  // The only properties a "$feature_flag_called" event keeps when the service asks for minimal flag
  // events and the flag runs no experiment.
  static const std::set<std::string>& minimalFeatureFlagCalledProperties();

  // --- Push notifications. ---

  // "$push_notification_opened" for an opened notification. The response's texts count only when its
  // payload has a "dizizoz" entry; the payload and the action identifier are passed on as they are.
  void capturePushNotificationOpened(const DiziZozNotificationResponse& response);
  // The event carries "$notification_title", "$notification_subtitle" and "$notification_body" (texts that
  // are given and not empty), then "$notification_<key>" for each entry of the payload's "dizizoz" object
  // (or JSON text of an object), then "$notification_action" for an action other than the default one.
  void capturePushNotificationOpened(const std::optional<std::string>& title = std::nullopt,
                                     const std::optional<std::string>& subtitle = std::nullopt,
                                     const std::optional<std::string>& body = std::nullopt,
                                     const std::optional<Properties>& payload = std::nullopt,
                                     const std::optional<std::string>& action = std::nullopt);

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
  friend class DiziZozLogger;

  // The log capture behind captureLog() and the logger, on the caller's thread. Refused before set-up,
  // while opted out (both with their lines) and for a body that is blank after trimming ("captureLog:
  // empty body, dropping"); dropped silently without a logs queue. The record keeps the body as given and
  // carries the distinct id (absent when empty), the session id read without starting or rotating a
  // session, the last screen, "background" or "foreground", the sorted keys of the cached flags whose
  // value is not false, and one reading of the clock as both of its times; it then passes the logs
  // before-send chain (a hook that throws drops it, logged) and goes to the logs queue.
  void captureLogInternal(const std::string& body, DiziZozLogSeverity level,
                          std::optional<Properties> attributes, std::optional<std::string> traceId,
                          std::optional<std::string> spanId, std::optional<std::int64_t> traceFlags);
  // Tests reach the install loop through it; defined only by tests.
  friend struct DiziZozSDKTestAccess;

  // The set-up check of every public operation: true when set up; otherwise prints the not-set-up line.
  bool checkSetup() const;
  // buildProperties(); with `readOnlySession` the session id is read without starting or rotating a
  // session, as the context notification needs: it follows every session change, so a session it started
  // would undo endSession() at once.
  Properties buildProperties(const std::string& distinctId, const std::optional<Properties>& properties,
                             const std::optional<Properties>& userProperties,
                             const std::optional<Properties>& userPropertiesSetOnce,
                             const std::optional<DiziZozGroups>& groups, bool appendSharedProps,
                             std::optional<Date> timestamp, bool readOnlySession);
  // The capture pipeline. With an allow-list only the listed property keys survive.
  void captureInternal(const std::string& event, DiziZozCaptureArguments arguments,
                       const std::optional<std::set<std::string>>& propertyAllowlist);
  // Hands the person maps (sanitised, set winning over set-once) to remote configuration for flag
  // requests; flags are not reloaded.
  void setPersonPropertiesForFlagsIfNeeded(const std::optional<Properties>& userProperties,
                                           const std::optional<Properties>& userPropertiesSetOnce);
  // The steps to attach to an exception event; nothing when steps are off, there is no buffer or no step.
  std::optional<std::vector<Properties>> attachableExceptionSteps() const;
  // The super properties stored under registerProperties; an empty object when missing or unreadable.
  Properties storedSuperProperties() const;
  // The registered groups (type -> key) stored under groups; an empty object when missing or not all
  // text. Call under groupsLock_.
  Properties storedGroupsLocked() const;
  // The shared end of the captureException forms.
  void captureExceptionEvent(Properties properties, const std::optional<Properties>& additionalProperties);
  // The flag lookup every read goes through; `sendEvent` decides reporting, the option when absent.
  std::optional<DiziZozFeatureFlagResult> featureFlagResult(const std::string& key,
                                                            std::optional<bool> sendEvent);
  void captureFeatureEvent(const std::string& event, const std::string& flag,
                           const std::optional<std::string>& flagVariant, std::string_view logName);
  // The "dizizoz" entry of a push payload as a map: an object as it is, text holding a JSON object parsed.
  static std::optional<Properties> dizizozPayload(const std::optional<Value>& entry);
  // The identity cache of the options in force; null before set-up and after close().
  std::shared_ptr<DiziZozStorageManager> identityCache() const;
  // The de-duplication of person properties: false when (distinct id, set, set-once) is the payload
  // let through last; otherwise it becomes that payload.
  bool shouldCapturePersonPropertiesEvent(const std::string& distinctId,
                                          const std::optional<Properties>& userPropertiesToSet,
                                          const std::optional<Properties>& userPropertiesToSetOnce);
  // Stores the person-properties fingerprint of the payload without comparing.
  void rememberPersonProperties(const std::string& distinctId,
                                const std::optional<Properties>& userProperties,
                                const std::optional<Properties>& userPropertiesSetOnce);
  // "$set" for `distinctId` through the capture pipeline.
  void capturePersonProperties(const std::string& distinctId, const std::optional<Properties>& userProperties,
                               const std::optional<Properties>& userPropertiesSetOnce);
  // Merges `groups` into the stored ones; flags reload when one was new or changed.
  Properties groups(const DiziZozGroups& groups);
  void groupIdentify(const std::string& type, const std::string& key,
                     const std::optional<Properties>& groupProperties);
  void setGroupPropertiesForFlagsIfNeeded(const std::string& type,
                                          const std::optional<Properties>& groupProperties);
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
  std::shared_ptr<DiziZozApi> api_;  // kept to be closed by close()
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
