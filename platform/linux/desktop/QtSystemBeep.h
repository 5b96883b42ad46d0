#pragma once

#include "platform/SystemBeep.h"

namespace platform {

// QApplication::beep(): the X server's bell. Needs a QApplication; main thread only.
class QtSystemBeep final : public SystemBeep {
 public:
  void beep() override;
};

}  // namespace platform
