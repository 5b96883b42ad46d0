#pragma once

#include <cstdint>
#include <string>

#include "platform/Executor.h"

namespace platform {

// One synthetic key press and release: a physical key, named by its XKB key name ("AB03" is the key
// where US keyboards print C, whatever the layout prints on it), with modifiers held around it.
struct Keystroke {
  enum Modifier : std::uint8_t {
    shift = 1u << 0,
    control = 1u << 1,
    alt = 1u << 2,
    super = 1u << 3,
  };

  std::string keyName;
  std::uint8_t modifiers = 0;  // Modifier bits

  friend bool operator==(const Keystroke&, const Keystroke&) = default;
};

// Posts synthetic keystrokes to the application that has the keyboard focus, as if the user typed them.
//
// Backends: XTest (platform/linux/desktop/XTestKeystrokeSender) and RecordingKeystrokeSender
// (platform/fake). Main thread only.
class KeystrokeSender {
 public:
  virtual ~KeystrokeSender() = default;

  // Queues `keystroke`. A keystroke typed while the user still holds keys of their own would mix with
  // them (Alt held turns Ctrl+C into Ctrl+Alt+C), so a backend may wait, for a bounded time, until the
  // user's keys are up. Keystrokes go out in the order they were sent. `posted` runs on the main
  // thread once the keystroke has gone out, or has been dropped because it cannot be typed.
  virtual void send(const Keystroke& keystroke, Job posted = {}) = 0;
};

}  // namespace platform
