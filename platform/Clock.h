#pragma once

#include <chrono>

namespace platform {

// Wall and monotonic time. SystemClock reads the real clocks; tests use fake::ManualClock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::system_clock::time_point now() const = 0;
  virtual std::chrono::steady_clock::time_point monotonicNow() const = 0;
};

class SystemClock final : public Clock {
 public:
  std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
  std::chrono::steady_clock::time_point monotonicNow() const override {
    return std::chrono::steady_clock::now();
  }
  // The process-wide instance.
  static SystemClock& shared();
};

}  // namespace platform
