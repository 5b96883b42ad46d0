#include "platform/Clock.h"

namespace platform {

SystemClock& SystemClock::shared() {
  // Never destroyed: a queue thread that ends after main() may still read the time.
  static auto* clock = new SystemClock;
  return *clock;
}

}  // namespace platform
