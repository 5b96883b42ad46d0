#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>

namespace platform {

class X11Connection;

// One running copy of the program per user and X display. The running copy owns an X selection named
// after the user id ("_QUORVELLE_INSTANCE_<uid>"): selections belong to the display's server, so the
// lock is per display, and the server releases it when its owner ends, crashed or not. Looking for an
// owner and taking the selection happen under a server grab, so two copies started together cannot both
// become the first. A later copy asks the owner to show its settings window with a ClientMessage to
// the owner's window.
//
// Main thread only; the connection must outlive the object.
class X11SingleInstance {
 public:
  explicit X11SingleInstance(X11Connection& x11);
  ~X11SingleInstance();
  X11SingleInstance(const X11SingleInstance&) = delete;
  X11SingleInstance& operator=(const X11SingleInstance&) = delete;

  // True for the copy that holds the lock; false when another copy was running already.
  bool isFirst() const { return first_; }
  // Another copy: asks the running one to show its settings window. False when the request could not
  // be delivered (the running copy has just ended).
  bool askRunningCopyToShowSettings();
  // The running copy: `handler` runs on the main thread each time another copy asks.
  void onShowSettingsRequested(std::function<void()> handler);

 private:
  X11Connection& x11_;
  bool first_ = false;
  xcb_window_t window_ = XCB_NONE;  // ours, owning the selection (first copy only)
  xcb_window_t owner_ = XCB_NONE;   // the running copy's window (later copies)
  xcb_atom_t selection_ = XCB_NONE;
  xcb_atom_t showSettings_ = XCB_NONE;
  std::uint64_t subscription_ = 0;
  std::function<void()> handler_;
};

}  // namespace platform
