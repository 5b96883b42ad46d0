#include "platform/fake/ScriptedUserNotificationCenter.h"

namespace platform::fake {

std::shared_ptr<UserNotificationDelegate> ScriptedUserNotificationCenter::delegate() const {
  std::lock_guard lock(lock_);
  return delegate_;
}

void ScriptedUserNotificationCenter::setDelegateSetterHook(DelegateSetterHook hook) {
  std::lock_guard lock(lock_);
  setterHook_ = std::move(hook);
}

void ScriptedUserNotificationCenter::interceptResponses(std::type_index type,
                                                        ResponseInterceptor interceptor) {
  std::lock_guard lock(lock_);
  interceptors_.insert_or_assign(type, std::move(interceptor));
  ++interceptionCounts_[type];
}

void ScriptedUserNotificationCenter::setRegistrationHooks(TokenHook onToken,
                                                          RegistrationFailureHook onFailure) {
  std::lock_guard lock(lock_);
  onToken_ = std::move(onToken);
  onFailure_ = std::move(onFailure);
}

void ScriptedUserNotificationCenter::setDelegate(std::shared_ptr<UserNotificationDelegate> delegate) {
  DelegateSetterHook hook;
  {
    std::lock_guard lock(lock_);
    hook = setterHook_;
  }
  if (hook) hook(delegate);
  std::lock_guard lock(lock_);
  delegate_ = std::move(delegate);
}

void ScriptedUserNotificationCenter::deliver(const UserNotificationResponse& response,
                                             std::function<void()> completion) {
  std::shared_ptr<UserNotificationDelegate> delegate;
  ResponseInterceptor interceptor;
  {
    std::lock_guard lock(lock_);
    delegate = delegate_;
    if (delegate) {
      auto& target = *delegate;
      auto found = interceptors_.find(std::type_index(typeid(target)));
      if (found != interceptors_.end()) interceptor = found->second;
    }
  }
  if (!delegate) return;  // nobody to tell: the service drops the response
  if (interceptor) {
    interceptor(*delegate, response, std::move(completion));
  } else if (delegate->handlesResponses()) {
    delegate->didReceiveResponse(response, std::move(completion));
  } else if (completion) {
    completion();
  }
}

void ScriptedUserNotificationCenter::deliverToken(std::span<const std::uint8_t> token) {
  TokenHook hook;
  {
    std::lock_guard lock(lock_);
    hook = onToken_;
  }
  if (hook) hook(token);
}

void ScriptedUserNotificationCenter::failRegistration(const std::string& description) {
  RegistrationFailureHook hook;
  {
    std::lock_guard lock(lock_);
    hook = onFailure_;
  }
  if (hook) hook(description);
}

bool ScriptedUserNotificationCenter::hasSetterHook() const {
  std::lock_guard lock(lock_);
  return static_cast<bool>(setterHook_);
}

bool ScriptedUserNotificationCenter::hasRegistrationHooks() const {
  std::lock_guard lock(lock_);
  return static_cast<bool>(onToken_);
}

int ScriptedUserNotificationCenter::interceptionCount(std::type_index type) const {
  std::lock_guard lock(lock_);
  auto found = interceptionCounts_.find(type);
  return found == interceptionCounts_.end() ? 0 : found->second;
}

}  // namespace platform::fake
