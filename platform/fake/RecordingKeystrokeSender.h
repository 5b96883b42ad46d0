#pragma once

#include <functional>
#include <vector>

#include "platform/KeystrokeSender.h"

namespace platform::fake {

// A KeystrokeSender for tests: records each keystroke, lets the test play the application that
// receives it (onSend), and reports it posted at once, or, with holdKeys set, only when the test calls
// releaseKeys() (the user still holding the hot key).
class RecordingKeystrokeSender final : public KeystrokeSender {
 public:
  std::vector<Keystroke> sent;
  std::function<void(const Keystroke&)> onSend;
  bool holdKeys = false;

  void send(const Keystroke& keystroke, Job posted = {}) override;
  // Posts the keystrokes held back while holdKeys was set, in order.
  void releaseKeys();

 private:
  struct Pending {
    Keystroke keystroke;
    Job posted;
  };
  void post(const Keystroke& keystroke, const Job& posted);

  std::vector<Pending> held_;
};

}  // namespace platform::fake
