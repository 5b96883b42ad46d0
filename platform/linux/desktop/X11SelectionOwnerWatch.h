#pragma once

#include <xcb/xcb.h>

#include <functional>

#include "platform/linux/desktop/X11Connection.h"

namespace platform {

// Follows who owns an X selection, through XFixes selection events on the shared connection: every
// change of owner (a new owner, the owner's window destroyed, its client gone) reaches the handler, with
// the new owner or XCB_NONE. Without XFixes, available() is false and nothing is followed.
//
// Main thread only; the connection must outlive the watch.
class X11SelectionOwnerWatch {
 public:
  X11SelectionOwnerWatch(X11Connection& x11, xcb_atom_t selection,
                         std::function<void(xcb_window_t owner)> onChange);
  ~X11SelectionOwnerWatch();
  X11SelectionOwnerWatch(const X11SelectionOwnerWatch&) = delete;
  X11SelectionOwnerWatch& operator=(const X11SelectionOwnerWatch&) = delete;

  bool available() const { return event_ != 0; }
  // The owner now, as the server says (one round trip); XCB_NONE without one.
  xcb_window_t owner() const;

 private:
  X11Connection& x11_;
  xcb_atom_t selection_;
  std::function<void(xcb_window_t)> onChange_;
  xcb_window_t window_ = XCB_NONE;
  std::uint8_t event_ = 0;  // response type of XFixes selection events
  X11Connection::SubscriptionId subscription_ = 0;
};

}  // namespace platform
