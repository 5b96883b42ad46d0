#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/RegistrationToken.h"
#include "DiziZoz/core/Value.h"

namespace platform {
class Clock;
}

namespace dizizoz {

class AppLifecyclePublishing;
class DiziZozConfig;
class TimeBasedEpochGenerator;

// The analytics session: a lower-case UUID version 7 id that groups the events of one period of use. The
// id is made at set-up, replaced after more than 30 minutes without activity or more than 24 hours of
// length, cleared when a limit passes while the application is in the background, and may be set by the
// application. Activity moves only when the application becomes active or goes to the background (and
// with each new id). Every change of the id is announced through `onSessionIdChanged`.
//
// One manager per client, made with it and never replaced. Thread-safe: one lock guards the id, its two
// times and the background flag; no lock is held while ids are drawn or subscribers run.
class DiziZozSessionManager : public std::enable_shared_from_this<DiziZozSessionManager> {
 public:
  static constexpr double sessionActivityThreshold = 1800;    // seconds without activity
  static constexpr double sessionMaxLengthThreshold = 86400;  // seconds of length

  enum class SessionIDChangeReason {
    sessionIdEmpty,
    sessionStart,
    sessionEnd,
    sessionReset,
    sessionTimeout,
    sessionPastMaximumLength,
    customSessionId,
  };
  // "Session id was empty", "Session started", ...
  static std::string_view rawValue(SessionIDChangeReason reason);
  // "sessionIdEmpty", "sessionStart", ...: how diagnostics name the reason.
  static std::string_view caseName(SessionIDChangeReason reason);

  // Reads time from `clock` and draws ids from `ids`; `lifecycle` is where it learns that the application
  // became active or went to the background. All three must outlive the manager.
  DiziZozSessionManager(std::shared_ptr<const platform::Clock> clock,
                        std::shared_ptr<TimeBasedEpochGenerator> ids, AppLifecyclePublishing& lifecycle);
  DiziZozSessionManager(const DiziZozSessionManager&) = delete;
  DiziZozSessionManager& operator=(const DiziZozSessionManager&) = delete;

  // The manager of DiziZozSDK::shared().
  static DiziZozSessionManager& shared();

  // Keeps the options, counts the application as in the foreground and follows its life cycle from now
  // on (ending the subscriptions of an earlier set-up).
  void setup(std::shared_ptr<DiziZozConfig> config);

  // The session id for an event at `at`. Read-only queries never change anything; others may start,
  // rotate or (in the background) clear the session first.
  std::optional<std::string> getSessionId(Date at, bool readOnly);
  std::optional<std::string> getSessionId(bool readOnly = false);

  void startSession(const std::function<void()>& completion = {});
  // Clears the session; `completion`, when given, runs afterwards.
  void endSession(const std::function<void()>& completion = {});
  void resetSession();
  // resetSession(), then stops following the life cycle until the next setup().
  void reset();
  // Takes `sessionId` as the id, unchecked (the empty text too).
  void setSessionId(const std::string& sessionId);
  // Records activity now, rotating a session idle for more than the threshold.
  void touchSession();
  // The id a new session would get (a fresh one each call; the session is not changed).
  std::optional<std::string> getNextSessionId();

  bool isAppInBackgroundSnapshot() const;

  // Fired with no value after every change of the id, also when it is cleared.
  DiziZozMulticastCallback<> onSessionIdChanged;

 private:
  void setSessionIdInternal(const std::optional<std::string>& sessionId, std::optional<Date> at,
                            SessionIDChangeReason reason);
  std::optional<std::string> rotateSession(bool force, Date at, SessionIDChangeReason reason);
  void registerNotifications();
  void releaseTokens();
  void didBecomeActive();
  void didEnterBackground();
  std::string newSessionId();

  const std::shared_ptr<const platform::Clock> clock_;
  const std::shared_ptr<TimeBasedEpochGenerator> ids_;
  AppLifecyclePublishing& lifecycle_;

  mutable std::mutex sessionLock_;
  std::shared_ptr<DiziZozConfig> config_;           // sessionLock_
  std::optional<std::string> sessionId_;            // sessionLock_
  std::optional<double> sessionStartTimestamp_;     // sessionLock_, seconds since 1970
  std::optional<double> sessionActivityTimestamp_;  // sessionLock_, seconds since 1970
  bool isAppInBackground_ = true;                   // sessionLock_

  std::mutex tokensLock_;
  RegistrationToken didBecomeActiveToken_;     // tokensLock_
  RegistrationToken didEnterBackgroundToken_;  // tokensLock_
  RegistrationToken applicationEventToken_;    // tokensLock_; released by setup, never set
};

}  // namespace dizizoz
