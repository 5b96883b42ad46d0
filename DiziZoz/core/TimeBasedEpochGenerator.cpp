#include "DiziZoz/core/TimeBasedEpochGenerator.h"

#include <chrono>

#include "platform/Clock.h"
#include "platform/Random.h"

namespace dizizoz {

TimeBasedEpochGenerator::TimeBasedEpochGenerator(const platform::Clock& clock, platform::Random& random)
    : clock_(clock), random_(random) {}

TimeBasedEpochGenerator& TimeBasedEpochGenerator::shared() {
  static auto* generator =
      new TimeBasedEpochGenerator(platform::SystemClock::shared(), platform::SystemRandom::shared());
  return *generator;
}

Uuid TimeBasedEpochGenerator::v7() {
  std::lock_guard lock(lock_);
  return generateUUID();
}

Uuid TimeBasedEpochGenerator::generateUUID() {
  using namespace std::chrono;
  auto sinceEpoch = duration_cast<milliseconds>(clock_.now().time_since_epoch()).count();
  // A clock set before 1970 would wrap into the far future; pin it to the epoch instead.
  const std::uint64_t ms = sinceEpoch > 0 ? static_cast<std::uint64_t>(sinceEpoch) : 0;

  // The entropy is kept as the 74 bits that the id shows (the version nibble and variant bits take the
  // rest), so that counting up within one millisecond always yields a larger id: a counter over all 80
  // bits would carry through hidden bits, making a later id smaller or equal to an earlier one.
  if (started_ && ms == lastTimestamp_) {
    // Count up as one big-endian number; an overflow of all 74 bits wraps to zero under the same timestamp.
    for (std::size_t i = lastEntropy_.size(); i-- > 0;) {
      const unsigned limit = i == 0 ? 0x10 : i == 2 ? 0x40 : 0x100;
      const unsigned next = lastEntropy_[i] + 1u;
      if (next < limit) {
        lastEntropy_[i] = static_cast<std::uint8_t>(next);
        break;
      }
      lastEntropy_[i] = 0;
    }
  } else {
    started_ = true;
    lastTimestamp_ = ms;
    // Without the secure source the entropy comes from the general-purpose generator, byte by byte.
    random_.fillOrFallBack(lastEntropy_);
    lastEntropy_[0] &= 0x0F;
    lastEntropy_[2] &= 0x3F;
  }

  Uuid uuid;
  for (std::size_t i = 0; i < 6; ++i) {
    uuid.bytes[i] = static_cast<std::uint8_t>(ms >> (8 * (5 - i)));
  }
  for (std::size_t i = 0; i < lastEntropy_.size(); ++i) uuid.bytes[6 + i] = lastEntropy_[i];
  uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x70);
  uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
  return uuid;
}

}  // namespace dizizoz
