#pragma once

#include <cstdint>
#include <mutex>

#include "platform/Random.h"

namespace platform::fake {

// Deterministic bytes: the same seed gives the same sequence on every machine (splitmix64).
// Thread-safe.
class SeededRandom final : public Random {
 public:
  explicit SeededRandom(std::uint64_t seed = 0) : state_(seed) {}

  bool fill(std::span<std::uint8_t> bytes) override {
    std::lock_guard lock(mutex_);
    std::size_t i = 0;
    while (i < bytes.size()) {
      std::uint64_t v = step();
      for (int b = 0; b < 8 && i < bytes.size(); ++b, ++i) {
        bytes[i] = static_cast<std::uint8_t>(v >> (56 - 8 * b));
      }
    }
    return true;
  }

 private:
  std::uint64_t step() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  std::mutex mutex_;
  std::uint64_t state_;
};

}  // namespace platform::fake
