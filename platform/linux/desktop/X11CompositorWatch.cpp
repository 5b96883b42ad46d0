#include "platform/linux/desktop/X11CompositorWatch.h"

#include <xcb/xfixes.h>

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
    : x11_(x11), onChange_(std::move(onChange)) {
  xcb_connection_t* c = x11_.connection();
  selection_ = internAtom(c, "_NET_WM_CM_S" + std::to_string(screenNumberOf(c, x11_.root())));

  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
  XcbReply<xcb_xfixes_query_version_reply_t> version(
      xfixes && xfixes->present
          ? xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr)
          : nullptr);
  if (version) {
    watcher_ = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, watcher_, x11_.root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_xfixes_select_selection_input(c, watcher_, selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xfixesEvent_ = static_cast<std::uint8_t>(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) {
      if ((event.response_type & 0x7f) != xfixesEvent_) return;
      const auto& notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
      if (notify.selection != selection_) return;
      const bool compositing = notify.owner != XCB_NONE;
      if (compositing == compositing_) return;
      compositing_ = compositing;
      if (onChange_) onChange_(compositing_);
    });
  } else {
    log(LogLevel::warning,
        "X11CompositorWatch: the X server has no XFixes; a compositing manager that starts "
        "or ends later goes unnoticed");
  }
  // After selecting the events, so that a change in between is not missed.
  XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr));
  compositing_ = owner && owner->owner != XCB_NONE;
}

X11CompositorWatch::~X11CompositorWatch() {
  if (subscription_) x11_.unsubscribe(subscription_);
  if (watcher_ != XCB_NONE) {
    xcb_destroy_window(x11_.connection(), watcher_);
    x11_.flush();
  }
}

}  // namespace platform
