#include "platform/UserNotificationCenter.h"

#include <mutex>

#include "platform/Log.h"

namespace platform {
namespace {

class InertUserNotificationCenter final : public UserNotificationCenter {
 public:
  std::shared_ptr<UserNotificationDelegate> delegate() const override {
    noteOnce();
    return nullptr;
  }
  void setDelegateSetterHook(DelegateSetterHook) override { noteOnce(); }
  void interceptResponses(std::type_index, ResponseInterceptor) override { noteOnce(); }
  void setRegistrationHooks(TokenHook, RegistrationFailureHook) override { noteOnce(); }

 private:
  void noteOnce() const {
    std::call_once(noted_, [] {
      log(LogLevel::info,
          "notifications: this desktop delivers no push notifications or notification responses");
    });
  }
  mutable std::once_flag noted_;
};

}  // namespace

UserNotificationCenter& inertUserNotificationCenter() {
  static auto* center = new InertUserNotificationCenter;
  return *center;
}

}  // namespace platform
