#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "DiziZoz/core/Uuid.h"

namespace platform {
class Clock;
class Random;
}  // namespace platform

namespace dizizoz {

// Makes the client's time-ordered ids: UUID version 7 (RFC 9562) with the wall-clock milliseconds in the
// first 48 bits. Ids made within one millisecond carry an 80-bit entropy counter that goes up by one per
// id, so they stay unique and ordered; a new millisecond (or a clock that stepped back) draws fresh
// entropy. Ids only sort by creation time while the wall clock does not step back.
//
// Thread-safe: every id is made under one lock. The clock and random source must outlive the generator.
class TimeBasedEpochGenerator {
 public:
  TimeBasedEpochGenerator(const platform::Clock& clock, platform::Random& random);
  TimeBasedEpochGenerator(const TimeBasedEpochGenerator&) = delete;
  TimeBasedEpochGenerator& operator=(const TimeBasedEpochGenerator&) = delete;

  // The process-wide generator on the system clock and the system's secure random source.
  static TimeBasedEpochGenerator& shared();

  Uuid v7();

 private:
  Uuid generateUUID();  // under lock_

  const platform::Clock& clock_;
  platform::Random& random_;
  std::mutex lock_;
  std::array<std::uint8_t, 10> lastEntropy_{};
  std::uint64_t lastTimestamp_ = 0;
  bool started_ = false;  // the first id always draws fresh entropy, whatever the clock says
};

}  // namespace dizizoz
