#include "platform/linux/desktop/X11SelectionOwnerWatch.h"

#include <xcb/xfixes.h>

#include "platform/linux/desktop/X11Reply.h"

namespace platform {

X11SelectionOwnerWatch::X11SelectionOwnerWatch(X11Connection& x11, xcb_atom_t selection,
                                               std::function<void(xcb_window_t)> onChange)
    : x11_(x11), selection_(selection), onChange_(std::move(onChange)) {
  xcb_connection_t* c = x11_.connection();
  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
  XcbReply<xcb_xfixes_query_version_reply_t> version(
      xfixes && xfixes->present
          ? xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr)
          : nullptr);
  if (!version) return;
  window_ = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, x11_.root(), -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_xfixes_select_selection_input(c, window_, selection_,
                                    XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
  event_ = static_cast<std::uint8_t>(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
  subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) != event_) return;
    const auto& notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
    if (notify.selection == selection_ && onChange_) onChange_(notify.owner);
  });
  x11_.flush();
}

X11SelectionOwnerWatch::~X11SelectionOwnerWatch() {
  if (subscription_) x11_.unsubscribe(subscription_);
  if (window_ != XCB_NONE) {
    xcb_destroy_window(x11_.connection(), window_);
    x11_.flush();
  }
}

xcb_window_t X11SelectionOwnerWatch::owner() const {
  xcb_connection_t* c = x11_.connection();
  XcbReply<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr));
  return reply ? reply->owner : XCB_NONE;
}

}  // namespace platform
