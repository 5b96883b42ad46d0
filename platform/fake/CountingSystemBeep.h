#pragma once

#include "platform/SystemBeep.h"

namespace platform::fake {

class CountingSystemBeep final : public SystemBeep {
 public:
  int beeps = 0;
  void beep() override { ++beeps; }
};

}  // namespace platform::fake
