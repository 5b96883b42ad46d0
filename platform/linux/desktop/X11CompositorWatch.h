#pragma once

#include <xcb/xcb.h>

#include <functional>
#include <memory>

#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11SelectionOwnerWatch.h"

namespace platform {

// Whether a compositing manager runs on the default screen: one does while the selection
// _NET_WM_CM_S<screen> has an owner (the EWMH convention). Changes are followed through XFixes selection
// events on the shared connection; without XFixes only the state at construction is known.
//
// Without a compositing manager, the transparent pixels of a translucent window show as black: windows
// that want rounded or see-through edges draw opaque ones instead.
//
// Main thread only; the connection must outlive the watch.
class X11CompositorWatch {
 public:
  // `onChange` runs on the main thread after every change, with the new state.
  X11CompositorWatch(X11Connection& x11, std::function<void(bool compositing)> onChange);
  ~X11CompositorWatch();
  X11CompositorWatch(const X11CompositorWatch&) = delete;
  X11CompositorWatch& operator=(const X11CompositorWatch&) = delete;

  bool isCompositing() const { return compositing_; }

 private:
  std::function<void(bool)> onChange_;
  std::unique_ptr<X11SelectionOwnerWatch> watch_;
  bool compositing_ = false;
};

}  // namespace platform
