#pragma once

#include <functional>
#include <memory>

#include "platform/linux/desktop/X11Connection.h"

namespace platform {

// Presses of pointer buttons and keys anywhere on the display, read as XInput 2 raw events selected on
// the root window of the shared connection. They arrive whatever window or grab the press goes to, and
// watching them takes nothing from that window: the application the user types in still gets its key.
// Presses that reach this application's own event handling are left out: a button pressed while the
// pointer is over a visible top-level window of this application, a key pressed while one of its
// windows has the keyboard focus.
//
// Needs a QApplication (to find this application's windows) and an X server with XInput 2.2. The
// connection must outlive the monitor. Main thread only.
class X11RawInputMonitor {
 public:
  enum class Press { left, right, wheel, other };
  using ButtonHandler = std::function<void(Press)>;
  // The keycode of the key pressed (the server's, as X11Connection::nameForKeycode() takes it).
  using KeyHandler = std::function<void(xcb_keycode_t keycode)>;

  // Nothing when the server lacks XInput 2.2 or refuses the selection.
  static std::unique_ptr<X11RawInputMonitor> create(X11Connection& x11, ButtonHandler buttons,
                                                    KeyHandler keys);
  ~X11RawInputMonitor();
  X11RawInputMonitor(const X11RawInputMonitor&) = delete;
  X11RawInputMonitor& operator=(const X11RawInputMonitor&) = delete;

 private:
  X11RawInputMonitor(X11Connection& x11, std::uint8_t opcode, ButtonHandler buttons, KeyHandler keys);
  void handle(const xcb_generic_event_t& event);

  X11Connection& x11_;
  std::uint8_t opcode_;
  ButtonHandler buttons_;
  KeyHandler keys_;
  X11Connection::SubscriptionId subscription_ = 0;
};

}  // namespace platform
