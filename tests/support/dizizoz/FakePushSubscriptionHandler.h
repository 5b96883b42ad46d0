#pragma once

#include <optional>
#include <string>
#include <utility>

#include "DiziZoz/core/DiziZozPushSubscriptionHandling.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "tests/support/dizizoz/CallLog.h"

namespace dizizoz::test {

// A push subscription handler that records its calls in order ("retryIfNeeded", "recordForReset",
// "unregister <id> <token> <app>", "reregisterAfterReset <token> <app>", "optOut") and, like the real one,
// subscribes to the client's context notification and keeps the last payload.
class FakePushSubscriptionHandler final : public DiziZozPushSubscriptionHandling {
 public:
  explicit FakePushSubscriptionHandler(DiziZozServices::PushParts parts) : parts(std::move(parts)) {
    if (this->parts.onEventContextChanged) {
      contextToken_ = this->parts.onEventContextChanged->subscribe([this](const Properties& payload) {
        calls.add("context");
        std::lock_guard lock(lock_);
        lastContext_ = payload;
      });
    }
  }

  void retryIfNeeded() override { calls.add("retryIfNeeded"); }
  std::optional<DiziZozPushRecordSnapshot> recordForReset() override {
    calls.add("recordForReset");
    return std::exchange(record, std::nullopt);
  }
  void unregister(const std::string& distinctId, const std::string& deviceToken,
                  const std::string& appId) override {
    calls.add("unregister " + distinctId + " " + deviceToken + " " + appId);
  }
  void reregisterAfterReset(const std::string& deviceToken, const std::string& appId) override {
    calls.add("reregisterAfterReset " + deviceToken + " " + appId);
  }
  void optOut() override { calls.add("optOut"); }

  std::optional<Properties> lastContext() const {
    std::lock_guard lock(lock_);
    return lastContext_;
  }

  const DiziZozServices::PushParts parts;
  // What the next recordForReset() hands out.
  std::optional<DiziZozPushRecordSnapshot> record;
  CallLog calls;

 private:
  mutable std::mutex lock_;
  std::optional<Properties> lastContext_;
  RegistrationToken contextToken_;
};

}  // namespace dizizoz::test
