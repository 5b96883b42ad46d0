#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// Random bytes. SystemRandom reads the system's secure source (getrandom(2)); tests use a seeded
// fake::SeededRandom. Thread-safe.
class Random {
 public:
  virtual ~Random() = default;
  // Fills `bytes` from the secure source; false when that failed (the bytes are then unspecified).
  [[nodiscard]] virtual bool fill(std::span<std::uint8_t> bytes) = 0;

  // fill(), or when the secure source fails, bytes drawn one by one from generalPurposeRandomByte():
  // for values that must differ (ids), never for secrets.
  void fillOrFallBack(std::span<std::uint8_t> bytes);

  std::uint64_t next64() {
    std::uint8_t b[8];
    fillOrFallBack(b);
    std::uint64_t v = 0;
    for (auto byte : b) v = (v << 8) | byte;
    return v;
  }
};

// A byte of the process's general-purpose generator: seeded from the clocks, the process and an address,
// stirred with the process id and the clock at every draw (so forked processes part ways). It needs no
// system call that can fail, and is not fit for secrets. Thread-safe.
std::uint8_t generalPurposeRandomByte();

class SystemRandom final : public Random {
 public:
  // False, with one log line per process, when the system refuses (a sandbox that forbids getrandom,
  // a kernel without it).
  bool fill(std::span<std::uint8_t> bytes) override;
  static SystemRandom& shared();
};

}  // namespace platform
