#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <typeindex>

#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozNotificationResponse.h"
#include "platform/Executor.h"
#include "platform/UserNotificationCenter.h"

namespace dizizoz {

// The device token as text: each byte as two lower-case hexadecimal digits, in order, no separator.
std::string deviceTokenText(std::span<const std::uint8_t> token);

// Turns the notification service's events into multicasts that integrations subscribe to, without the
// host application doing anything: the user's responses to shown notifications (onNotificationResponse)
// and the device token of a remote-push registration (onDeviceToken).
//
// Hooks follow the subscriber counts: the delegate-setter hook is installed on the calling thread at the
// first response subscriber and removed at the last; the registration hooks are installed at the first
// token subscriber and removed at the last, both on the main executor. Each delegate type is intercepted
// once and for good: its responses are published to the subscribers first (synchronously, on the
// delivering thread), then the delegate's own handler runs, or the completion when it has none. The
// center keys interception on the exact dynamic type, so a subtype of an intercepted type is intercepted
// on its own when it becomes the delegate.
//
// Thread-safe. Must outlive the center's use of its hooks (the shared instance lives for the process).
class PushNotificationPublisher : public std::enable_shared_from_this<PushNotificationPublisher> {
 public:
  // The process-wide publisher (DI::main().pushNotificationPublisher()), over this desktop's inert
  // notification center.
  static PushNotificationPublisher& shared();

  static std::shared_ptr<PushNotificationPublisher> make(platform::UserNotificationCenter& center,
                                                         platform::Executor& mainExecutor);

  DiziZozMulticastCallback<DiziZozNotificationResponse>& onNotificationResponse() {
    return onNotificationResponse_;
  }
  DiziZozMulticastCallback<std::string>& onDeviceToken() { return onDeviceToken_; }

  // Makes responses for delegates of `type` publish; a type already intercepted is left as it is.
  void interceptDelegateResponses(std::type_index type);

 private:
  struct Private {};

 public:
  PushNotificationPublisher(Private, platform::UserNotificationCenter& center,
                            platform::Executor& mainExecutor);

 private:
  void responseSubscribersChanged(std::size_t count);
  void tokenSubscribersChanged(std::size_t count);
  void hookDelegateSetter();
  void hookRegistration();
  void unhookRegistration();

  platform::UserNotificationCenter& center_;
  platform::Executor& mainExecutor_;
  DiziZozMulticastCallback<DiziZozNotificationResponse> onNotificationResponse_;
  DiziZozMulticastCallback<std::string> onDeviceToken_;
  std::mutex delegateTypesLock_;
  std::set<std::type_index> interceptedDelegateTypes_;  // delegateTypesLock_
};

}  // namespace dizizoz
