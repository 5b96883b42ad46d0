#include "platform/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

void SystemRandom::fill(std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = getrandom(bytes.data() + done, bytes.size() - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::abort();  // no entropy source: nothing sensible to fall back to
    }
    done += static_cast<std::size_t>(n);
  }
}

SystemRandom& SystemRandom::shared() {
  static SystemRandom random;
  return random;
}

}  // namespace platform
