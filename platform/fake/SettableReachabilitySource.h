#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/ReachabilityDelivery.h"
#include "platform/ReachabilitySource.h"

namespace platform::fake {

// A ReachabilitySource whose flags the test sets. set() reports the new flags through the installed
// callback on the scheduled queue, as a system change would; readFlags() returns them. Installing a
// callback, scheduling and reading can each be made to fail with a chosen code (removing a callback and
// unscheduling never fail). Thread-safe.
class SettableReachabilitySource final : public ReachabilitySource {
 public:
  explicit SettableReachabilitySource(ReachabilityFlags flags = ReachabilityFlag::reachable);

  // Stores `flags` and reports them (even when they equal the stored ones).
  void set(ReachabilityFlags flags);
  // 0 makes the step succeed again.
  void failReads(std::int32_t code) { readError_ = code; }
  void failSetCallback(std::int32_t code) { setCallbackError_ = code; }
  void failSchedule(std::int32_t code) { scheduleError_ = code; }

  // The callback as installed, to call it the way a report that was already under way would.
  Callback installedCallback() const { return delivery_.callback(); }
  bool isScheduled() const { return delivery_.isScheduled(); }
  int reads() const { return reads_; }
  int callbackInstalls() const { return callbackInstalls_; }
  int schedules() const { return schedules_; }

  std::string_view name() const override { return "settable"; }
  ReachabilityRead readFlags() override;
  std::int32_t setCallback(Callback callback) override;
  std::int32_t schedule(std::shared_ptr<SerialQueue> queue) override;
  void unschedule() override { delivery_.setQueue(nullptr); }

 private:
  std::atomic<ReachabilityFlags> flags_;
  std::atomic<std::int32_t> readError_{0};
  std::atomic<std::int32_t> setCallbackError_{0};
  std::atomic<std::int32_t> scheduleError_{0};
  std::atomic<int> reads_{0};
  std::atomic<int> callbackInstalls_{0};
  std::atomic<int> schedules_{0};
  ReachabilityDelivery delivery_;
};

}  // namespace platform::fake
