#pragma once

namespace dizizoz {

// Options of the exception-steps buffer: whether recorded steps are attached to exception events, and
// the byte budget of the buffer. Plain fields with no lock: set them before set-up.
struct DiziZozExceptionStepsConfig {
  bool enabled = true;
  int maxBytes = 32768;
};

}  // namespace dizizoz
