#include "DiziZoz/core/DiziZozSessionManager.h"

#include <chrono>
#include <tuple>
#include <utility>

#include "DiziZoz/core/AppLifecyclePublishing.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

double secondsSince1970(Date date) {
  return std::chrono::duration<double>(date.time_since_epoch()).count();
}

// Strictly more than `limit` seconds from `since` to `now`; a clock set back never passes a limit.
bool passed(const std::optional<double>& since, double now, double limit) {
  return since && now - *since > limit;
}

}  // namespace

std::string_view DiziZozSessionManager::rawValue(SessionIDChangeReason reason) {
  switch (reason) {
    case SessionIDChangeReason::sessionIdEmpty:
      return "Session id was empty";
    case SessionIDChangeReason::sessionStart:
      return "Session started";
    case SessionIDChangeReason::sessionEnd:
      return "Session ended";
    case SessionIDChangeReason::sessionReset:
      return "Session was reset";
    case SessionIDChangeReason::sessionTimeout:
      return "Session timed out";
    case SessionIDChangeReason::sessionPastMaximumLength:
      return "Session past maximum length";
    case SessionIDChangeReason::customSessionId:
      return "Custom session set";
  }
  return {};
}

std::string_view DiziZozSessionManager::caseName(SessionIDChangeReason reason) {
  switch (reason) {
    case SessionIDChangeReason::sessionIdEmpty:
      return "sessionIdEmpty";
    case SessionIDChangeReason::sessionStart:
      return "sessionStart";
    case SessionIDChangeReason::sessionEnd:
      return "sessionEnd";
    case SessionIDChangeReason::sessionReset:
      return "sessionReset";
    case SessionIDChangeReason::sessionTimeout:
      return "sessionTimeout";
    case SessionIDChangeReason::sessionPastMaximumLength:
      return "sessionPastMaximumLength";
    case SessionIDChangeReason::customSessionId:
      return "customSessionId";
  }
  return {};
}

DiziZozSessionManager::DiziZozSessionManager(std::shared_ptr<const platform::Clock> clock,
                                             std::shared_ptr<TimeBasedEpochGenerator> ids,
                                             AppLifecyclePublishing& lifecycle)
    : clock_(std::move(clock)), ids_(std::move(ids)), lifecycle_(lifecycle) {}

DiziZozSessionManager& DiziZozSessionManager::shared() {
  return DiziZozSDK::shared()->sessionManager();
}

void DiziZozSessionManager::setup(std::shared_ptr<DiziZozConfig> config) {
  {
    std::lock_guard lock(sessionLock_);
    config_ = std::move(config);
  }
  releaseTokens();
  {
    std::lock_guard lock(sessionLock_);
    isAppInBackground_ = false;
  }
  registerNotifications();
}

std::string DiziZozSessionManager::newSessionId() {
  return ids_->v7().toString();
}

std::optional<std::string> DiziZozSessionManager::getSessionId(bool readOnly) {
  return getSessionId(clock_->now(), readOnly);
}

std::optional<std::string> DiziZozSessionManager::getSessionId(Date at, bool readOnly) {
  std::optional<std::string> id;
  std::optional<double> start;
  std::optional<double> activity;
  bool inBackground;
  {
    std::lock_guard lock(sessionLock_);
    id = sessionId_;
    start = sessionStartTimestamp_;
    activity = sessionActivityTimestamp_;
    inBackground = isAppInBackground_;
  }
  if (readOnly) return id;

  if ((!id || id->empty()) && !inBackground) {
    std::string fresh = newSessionId();
    setSessionIdInternal(fresh, at, SessionIDChangeReason::sessionIdEmpty);
    return fresh;
  }

  const double now = secondsSince1970(at);
  for (const auto& [since, limit, reason] :
       {std::tuple{activity, sessionActivityThreshold, SessionIDChangeReason::sessionTimeout},
        std::tuple{start, sessionMaxLengthThreshold, SessionIDChangeReason::sessionPastMaximumLength}}) {
    if (!passed(since, now, limit)) continue;
    if (inBackground) {
      setSessionIdInternal(std::nullopt, std::nullopt, reason);
      return std::nullopt;
    }
    return rotateSession(false, at, reason);
  }
  return id;
}

void DiziZozSessionManager::startSession(const std::function<void()>& completion) {
  setSessionIdInternal(newSessionId(), clock_->now(), SessionIDChangeReason::sessionStart);
  if (completion) completion();
}

void DiziZozSessionManager::endSession(const std::function<void()>& completion) {
  setSessionIdInternal(std::nullopt, std::nullopt, SessionIDChangeReason::sessionEnd);
  if (completion) completion();
}

void DiziZozSessionManager::resetSession() {
  setSessionIdInternal(newSessionId(), clock_->now(), SessionIDChangeReason::sessionReset);
}

void DiziZozSessionManager::reset() {
  resetSession();
  releaseTokens();
}

void DiziZozSessionManager::setSessionId(const std::string& sessionId) {
  setSessionIdInternal(sessionId, clock_->now(), SessionIDChangeReason::customSessionId);
}

void DiziZozSessionManager::touchSession() {
  std::optional<std::string> id;
  std::optional<double> activity;
  {
    std::lock_guard lock(sessionLock_);
    id = sessionId_;
    activity = sessionActivityTimestamp_;
  }
  if (!id) return;
  const Date now = clock_->now();
  if (passed(activity, secondsSince1970(now), sessionActivityThreshold)) {
    rotateSession(false, now, SessionIDChangeReason::sessionTimeout);
    return;
  }
  std::lock_guard lock(sessionLock_);
  sessionActivityTimestamp_ = secondsSince1970(now);
}

std::optional<std::string> DiziZozSessionManager::getNextSessionId() {
  return newSessionId();
}

bool DiziZozSessionManager::isAppInBackgroundSnapshot() const {
  std::lock_guard lock(sessionLock_);
  return isAppInBackground_;
}

void DiziZozSessionManager::setSessionIdInternal(const std::optional<std::string>& sessionId,
                                                 std::optional<Date> at, SessionIDChangeReason reason) {
  {
    std::lock_guard lock(sessionLock_);
    sessionId_ = sessionId;
    const std::optional<double> seconds = at ? std::optional(secondsSince1970(*at)) : std::nullopt;
    sessionStartTimestamp_ = seconds;
    sessionActivityTimestamp_ = seconds;
  }
  onSessionIdChanged.invoke();
  if (sessionId) {
    hedgeLog("New session id created " + *sessionId + " (" + std::string(caseName(reason)) + ")");
  } else {
    hedgeLog("Session id cleared - reason: (" + std::string(caseName(reason)) + ")");
  }
}

std::optional<std::string> DiziZozSessionManager::rotateSession(bool force, Date at,
                                                                SessionIDChangeReason reason) {
  if (!force) {
    std::optional<std::string> id;
    {
      std::lock_guard lock(sessionLock_);
      id = sessionId_;
    }
    if (!id || id->empty()) return id;
  }
  std::string fresh = newSessionId();
  setSessionIdInternal(fresh, at, reason);
  return fresh;
}

void DiziZozSessionManager::registerNotifications() {
  std::weak_ptr<DiziZozSessionManager> weakSelf = weak_from_this();
  RegistrationToken becameActive = lifecycle_.onDidBecomeActive().subscribe([weakSelf] {
    if (auto self = weakSelf.lock()) self->didBecomeActive();
  });
  RegistrationToken enteredBackground = lifecycle_.onDidEnterBackground().subscribe([weakSelf] {
    if (auto self = weakSelf.lock()) self->didEnterBackground();
  });
  std::lock_guard lock(tokensLock_);
  didBecomeActiveToken_ = std::move(becameActive);
  didEnterBackgroundToken_ = std::move(enteredBackground);
}

void DiziZozSessionManager::releaseTokens() {
  RegistrationToken becameActive;
  RegistrationToken enteredBackground;
  RegistrationToken applicationEvent;
  {
    std::lock_guard lock(tokensLock_);
    becameActive = std::move(didBecomeActiveToken_);
    enteredBackground = std::move(didEnterBackgroundToken_);
    applicationEvent = std::move(applicationEventToken_);
  }
  // The moved tokens end their subscriptions here, with no lock held.
}

void DiziZozSessionManager::didBecomeActive() {
  {
    std::lock_guard lock(sessionLock_);
    if (!isAppInBackground_) return;
  }
  touchSession();
  std::lock_guard lock(sessionLock_);
  isAppInBackground_ = false;
}

void DiziZozSessionManager::didEnterBackground() {
  {
    std::lock_guard lock(sessionLock_);
    if (isAppInBackground_) return;
  }
  touchSession();
  std::lock_guard lock(sessionLock_);
  isAppInBackground_ = true;
}

}  // namespace dizizoz
