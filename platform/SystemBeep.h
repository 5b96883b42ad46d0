#pragma once

namespace platform {

// The desktop's alert sound. Main thread only.
class SystemBeep {
 public:
  virtual ~SystemBeep() = default;
  virtual void beep() = 0;
};

}  // namespace platform
