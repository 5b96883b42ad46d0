#pragma once

#include <functional>
#include <memory>

#include "platform/linux/desktop/X11Connection.h"

namespace platform {

// Presses of pointer buttons anywhere on the display, read as XInput 2 raw button events selected on the
// root window of the shared connection (they arrive whatever window or grab the press goes to). Presses
// while the pointer is over a visible top-level window of this application are left out: those reach
// this application's own event handling.
//
// Needs a QApplication (to find this application's windows) and an X server with XInput 2.2. The
// connection must outlive the monitor. Main thread only.
class X11RawButtonMonitor {
 public:
  enum class Press { left, right, wheel, other };
  using Handler = std::function<void(Press)>;

  // Nothing when the server lacks XInput 2.2 or refuses the selection.
  static std::unique_ptr<X11RawButtonMonitor> create(X11Connection& x11, Handler handler);
  ~X11RawButtonMonitor();
  X11RawButtonMonitor(const X11RawButtonMonitor&) = delete;
  X11RawButtonMonitor& operator=(const X11RawButtonMonitor&) = delete;

 private:
  X11RawButtonMonitor(X11Connection& x11, std::uint8_t opcode, Handler handler);
  void handle(const xcb_generic_event_t& event);

  X11Connection& x11_;
  std::uint8_t opcode_;
  Handler handler_;
  X11Connection::SubscriptionId subscription_ = 0;
};

}  // namespace platform
