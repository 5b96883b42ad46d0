#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// Secure random bytes. SystemRandom reads getrandom(2); tests use a seeded fake::SeededRandom.
// Thread-safe.
class Random {
 public:
  virtual ~Random() = default;
  virtual void fill(std::span<std::uint8_t> bytes) = 0;

  std::uint64_t next64() {
    std::uint8_t b[8];
    fill(b);
    std::uint64_t v = 0;
    for (auto byte : b) v = (v << 8) | byte;
    return v;
  }
};

class SystemRandom final : public Random {
 public:
  void fill(std::span<std::uint8_t> bytes) override;
  static SystemRandom& shared();
};

}  // namespace platform
