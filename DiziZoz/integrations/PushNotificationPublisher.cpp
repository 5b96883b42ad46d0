#include "DiziZoz/integrations/PushNotificationPublisher.h"

#include <cstdio>

#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "platform/MainExecutor.h"

namespace dizizoz {
namespace {

DiziZozNotificationResponse converted(const platform::UserNotificationResponse& response) {
  DiziZozNotificationResponse result;
  result.title = response.title;
  result.subtitle = response.subtitle;
  result.body = response.body;
  if (auto payload = fromJSONData(response.payloadJson)) result.payload = std::move(*payload);
  result.actionIdentifier = response.actionIdentifier;
  result.triggeredByRemotePush = response.triggeredByRemotePush;
  return result;
}

}  // namespace

std::string deviceTokenText(std::span<const std::uint8_t> token) {
  std::string text;
  text.reserve(token.size() * 2);
  char digits[3];
  for (auto byte : token) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(byte));
    text += digits;
  }
  return text;
}

PushNotificationPublisher& PushNotificationPublisher::shared() {
  static auto* publisher =
      new std::shared_ptr(make(platform::inertUserNotificationCenter(), platform::standaloneMainExecutor()));
  return **publisher;
}

namespace DI {

PushNotificationPublisher& Container::pushNotificationPublisher() {
  auto* publisher = pushNotificationPublisher_.load(std::memory_order_acquire);
  if (publisher == nullptr) {
    // The shared publisher is made once, so racing first accesses store the same object.
    publisher = &PushNotificationPublisher::shared();
    pushNotificationPublisher_.store(publisher, std::memory_order_release);
  }
  return *publisher;
}

}  // namespace DI

std::shared_ptr<PushNotificationPublisher> PushNotificationPublisher::make(
    platform::UserNotificationCenter& center, platform::Executor& mainExecutor) {
  return std::make_shared<PushNotificationPublisher>(Private{}, center, mainExecutor);
}

// The count observers may refer to `this`: the multicasts live inside the publisher, and a released
// subscription whose multicast is gone calls no observer.
PushNotificationPublisher::PushNotificationPublisher(Private, platform::UserNotificationCenter& center,
                                                     platform::Executor& mainExecutor)
    : center_(center),
      mainExecutor_(mainExecutor),
      onNotificationResponse_([this](std::size_t count) { responseSubscribersChanged(count); }),
      onDeviceToken_([this](std::size_t count) { tokenSubscribersChanged(count); }) {}

void PushNotificationPublisher::responseSubscribersChanged(std::size_t count) {
  if (count == 1) {
    hookDelegateSetter();
    if (auto delegate = center_.delegate()) {
      auto& current = *delegate;
      interceptDelegateResponses(std::type_index(typeid(current)));
    }
  } else if (count == 0) {
    // Intercepted delegate types stay intercepted; they publish to no one.
    center_.setDelegateSetterHook({});
  }
}

void PushNotificationPublisher::hookDelegateSetter() {
  std::weak_ptr<PushNotificationPublisher> weakSelf = weak_from_this();
  center_.setDelegateSetterHook(
      [weakSelf](const std::shared_ptr<platform::UserNotificationDelegate>& delegate) {
        auto self = weakSelf.lock();
        if (!self || !delegate) return;
        auto& newDelegate = *delegate;
        self->interceptDelegateResponses(std::type_index(typeid(newDelegate)));
      });
}

void PushNotificationPublisher::interceptDelegateResponses(std::type_index type) {
  std::lock_guard lock(delegateTypesLock_);
  if (!interceptedDelegateTypes_.insert(type).second) return;
  std::weak_ptr<PushNotificationPublisher> weakSelf = weak_from_this();
  center_.interceptResponses(
      type, [weakSelf](platform::UserNotificationDelegate& delegate,
                       const platform::UserNotificationResponse& response, std::function<void()> completion) {
        if (auto self = weakSelf.lock()) self->onNotificationResponse_.invoke(converted(response));
        if (delegate.handlesResponses()) {
          delegate.didReceiveResponse(response, std::move(completion));
        } else if (completion) {
          completion();
        }
      });
}

void PushNotificationPublisher::tokenSubscribersChanged(std::size_t count) {
  std::weak_ptr<PushNotificationPublisher> weakSelf = weak_from_this();
  if (count == 1) {
    mainExecutor_.post([weakSelf] {
      if (auto self = weakSelf.lock()) self->hookRegistration();
    });
  } else if (count == 0) {
    mainExecutor_.post([weakSelf] {
      if (auto self = weakSelf.lock()) self->unhookRegistration();
    });
  }
}

void PushNotificationPublisher::hookRegistration() {
  std::weak_ptr<PushNotificationPublisher> weakSelf = weak_from_this();
  center_.setRegistrationHooks(
      [weakSelf](std::span<const std::uint8_t> token) {
        if (auto self = weakSelf.lock()) self->onDeviceToken_.invoke(deviceTokenText(token));
      },
      [](const std::string& description) {
        hedgeLog("Failed to register for remote notifications: " + description);
      });
}

void PushNotificationPublisher::unhookRegistration() {
  center_.setRegistrationHooks({}, {});
}

}  // namespace dizizoz
