#include "platform/Clock.h"

namespace platform {

SystemClock& SystemClock::shared() {
  static SystemClock clock;
  return clock;
}

}  // namespace platform
