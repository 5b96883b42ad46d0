#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <typeindex>

namespace platform {

// The user's answer to a shown notification, as the notification service hands it over.
struct UserNotificationResponse {
  std::string title{};
  std::string subtitle{};
  std::string body{};
  std::string payloadJson{"{}"};            // the notification's data, a JSON object
  std::string actionIdentifier{"default"};  // "default" (opened), "dismiss" or an application action
  bool triggeredByRemotePush = false;
};

// The object the application appoints to receive responses. Its run-time type is what response
// interception is keyed on.
class UserNotificationDelegate {
 public:
  virtual ~UserNotificationDelegate() = default;
  // False when the delegate has no response handler of its own: the completion is then the only
  // thing to run.
  virtual bool handlesResponses() const = 0;
  // Must call `completion` once (possibly later) when handlesResponses() is true.
  virtual void didReceiveResponse(const UserNotificationResponse& response,
                                  std::function<void()> completion) = 0;
};

// Runs in place of a delegate's response handler: it decides whether and when the delegate's own
// handler (or, without one, the completion) runs.
using ResponseInterceptor =
    std::function<void(UserNotificationDelegate& delegate, const UserNotificationResponse& response,
                       std::function<void()> completion)>;

// The process's notification service and the application's remote-registration callbacks. All hooks
// are called on the thread on which the service delivers; none is called with a lock of the center
// held.
class UserNotificationCenter {
 public:
  using DelegateSetterHook =
      std::function<void(const std::shared_ptr<UserNotificationDelegate>& newDelegate)>;
  using TokenHook = std::function<void(std::span<const std::uint8_t> token)>;
  using RegistrationFailureHook = std::function<void(const std::string& description)>;

  virtual ~UserNotificationCenter() = default;

  virtual std::shared_ptr<UserNotificationDelegate> delegate() const = 0;
  // Runs before every later delegate change, with the new delegate (null included); an empty hook
  // removes it.
  virtual void setDelegateSetterHook(DelegateSetterHook hook) = 0;
  // Responses for delegates whose dynamic type is exactly `type` go through `interceptor` from now on.
  // There is no undo; a second call for the same type replaces the first. Subtypes are separate types.
  virtual void interceptResponses(std::type_index type, ResponseInterceptor interceptor) = 0;
  // Hooks the remote-registration outcome (the device token, or the failure); empty hooks unhook.
  virtual void setRegistrationHooks(TokenHook onToken, RegistrationFailureHook onFailure) = 0;
};

// This desktop has no notification service with responses and no remote push: the center never has a
// delegate and never delivers. It logs once, at its first use, that push events will not arrive.
UserNotificationCenter& inertUserNotificationCenter();

}  // namespace platform
