#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/UserNotificationCenter.h"

namespace platform::fake {

// A notification center that tests drive: they appoint delegates, deliver responses, tokens and
// registration failures. Delivery follows the interception rules of the interface. Thread-safe; hooks
// run with no lock held.
class ScriptedUserNotificationCenter final : public UserNotificationCenter {
 public:
  std::shared_ptr<UserNotificationDelegate> delegate() const override;
  void setDelegateSetterHook(DelegateSetterHook hook) override;
  void interceptResponses(std::type_index type, ResponseInterceptor interceptor) override;
  void setRegistrationHooks(TokenHook onToken, RegistrationFailureHook onFailure) override;

  // What the application does: runs the setter hook (if any), then stores the delegate.
  void setDelegate(std::shared_ptr<UserNotificationDelegate> delegate);
  // The user answers a notification; `completion` runs as the delegate's handler decides.
  void deliver(const UserNotificationResponse& response, std::function<void()> completion);
  void deliverToken(std::span<const std::uint8_t> token);
  void failRegistration(const std::string& description);

  bool hasSetterHook() const;
  bool hasRegistrationHooks() const;
  // How often interceptResponses was called for `type`.
  int interceptionCount(std::type_index type) const;

 private:
  mutable std::mutex lock_;
  std::shared_ptr<UserNotificationDelegate> delegate_;
  DelegateSetterHook setterHook_;
  std::map<std::type_index, ResponseInterceptor> interceptors_;
  std::map<std::type_index, int> interceptionCounts_;
  TokenHook onToken_;
  RegistrationFailureHook onFailure_;
};

}  // namespace platform::fake
