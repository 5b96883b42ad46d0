#include "platform/Random.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/Log.h"

namespace platform {
namespace {

std::uint64_t mixed(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t clockTicks() {
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

void Random::fillOrFallBack(std::span<std::uint8_t> bytes) {
  if (fill(bytes)) return;
  for (auto& byte : bytes) byte = generalPurposeRandomByte();
}

std::uint8_t generalPurposeRandomByte() {
  static std::mutex mutex;
  static std::uint64_t state = [] {
    int local = 0;
    return mixed(clockTicks()) ^
           mixed(static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count())) ^
           mixed(reinterpret_cast<std::uintptr_t>(&local)) ^ mixed(static_cast<std::uint64_t>(::getpid()));
  }();
  std::lock_guard lock(mutex);
  state += 0x9e3779b97f4a7c15ULL;  // splitmix64's step
  const std::uint64_t stirred = state ^ (static_cast<std::uint64_t>(::getpid()) << 32) ^ clockTicks();
  return static_cast<std::uint8_t>(mixed(stirred) >> 56);
}

bool SystemRandom::fill(std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = getrandom(bytes.data() + done, bytes.size() - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      static std::atomic<bool> logged{false};
      if (!logged.exchange(true)) {
        log(LogLevel::warning, std::string("The system's secure random source failed (") +
                                   std::strerror(errno) +
                                   "); ids are made from a general-purpose generator instead");
      }
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

SystemRandom& SystemRandom::shared() {
  // Never destroyed, like the clock: threads that end after main() may still draw from it.
  static auto* random = new SystemRandom;
  return *random;
}

}  // namespace platform
