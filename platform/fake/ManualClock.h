#pragma once

#include <chrono>
#include <mutex>

#include "platform/Clock.h"

namespace platform::fake {

// A Clock that moves only when told. Wall time starts at the given point (default: 2024-01-01 00:00 UTC),
// monotonic time at the steady clock's epoch. Thread-safe.
class ManualClock final : public Clock {
 public:
  using WallTime = std::chrono::system_clock::time_point;
  using MonotonicTime = std::chrono::steady_clock::time_point;

  explicit ManualClock(WallTime wallStart = WallTime{std::chrono::seconds{1704067200}}) : wall_(wallStart) {}

  WallTime now() const override {
    std::lock_guard lock(mutex_);
    return wall_;
  }
  MonotonicTime monotonicNow() const override {
    std::lock_guard lock(mutex_);
    return monotonic_;
  }

  // Moves both clocks forward.
  void advance(std::chrono::nanoseconds d) {
    std::lock_guard lock(mutex_);
    wall_ += std::chrono::duration_cast<WallTime::duration>(d);
    monotonic_ += d;
  }
  // Sets the wall clock only (as when the user changes the system time); monotonic time is unaffected.
  void setWallTime(WallTime t) {
    std::lock_guard lock(mutex_);
    wall_ = t;
  }

 private:
  mutable std::mutex mutex_;
  WallTime wall_;
  MonotonicTime monotonic_{};
};

}  // namespace platform::fake
