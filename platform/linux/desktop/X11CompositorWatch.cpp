#include "platform/linux/desktop/X11CompositorWatch.h"

#include <string>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Reply.h"

namespace platform {
namespace {

// The number of the screen whose root is `root`.
int screenNumberOf(xcb_connection_t* c, xcb_window_t root) {
  int number = 0;
  for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it), ++number) {
    if (it.data->root == root) return number;
  }
  return 0;
}

}  // namespace

X11CompositorWatch::X11CompositorWatch(X11Connection& x11, std::function<void(bool)> onChange)
    : onChange_(std::move(onChange)) {
  xcb_connection_t* c = x11.connection();
  const xcb_atom_t selection = internAtom(c, "_NET_WM_CM_S" + std::to_string(screenNumberOf(c, x11.root())));
  watch_ = std::make_unique<X11SelectionOwnerWatch>(x11, selection, [this](xcb_window_t owner) {
    const bool compositing = owner != XCB_NONE;
    if (compositing == compositing_) return;
    compositing_ = compositing;
    if (onChange_) onChange_(compositing_);
  });
  if (!watch_->available()) {
    log(LogLevel::warning,
        "X11CompositorWatch: the X server has no XFixes; a compositing manager that starts "
        "or ends later goes unnoticed");
  }
  // After the watch has started, so that a change in between is not missed.
  compositing_ = watch_->owner() != XCB_NONE;
}

X11CompositorWatch::~X11CompositorWatch() = default;

}  // namespace platform
