#include "platform/linux/desktop/X11SingleInstance.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11Reply.h"

namespace platform {
X11SingleInstance::X11SingleInstance(X11Connection& x11) : x11_(x11) {
  xcb_connection_t* c = x11_.connection();
  selection_ = internAtom(c, "_QUORVELLE_INSTANCE_" + std::to_string(::getuid()));
  showSettings_ = internAtom(c, "_QUORVELLE_SHOW_SETTINGS");

  window_ = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, x11_.root(), -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_grab_server(c);
  XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr));
  owner_ = owner ? owner->owner : XCB_NONE;
  if (owner_ == XCB_NONE) xcb_set_selection_owner(c, window_, selection_, XCB_CURRENT_TIME);
  xcb_ungrab_server(c);
  first_ = owner_ == XCB_NONE;
  if (!first_) {
    xcb_destroy_window(c, window_);
    window_ = XCB_NONE;
  }
  x11_.flush();

  if (first_) {
    subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) {
      const auto type = event.response_type & 0x7f;
      if (type == XCB_CLIENT_MESSAGE) {
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        if (message.window == window_ && message.type == showSettings_ && handler_) handler_();
      } else if (type == XCB_SELECTION_CLEAR) {
        const auto& clear = reinterpret_cast<const xcb_selection_clear_event_t&>(event);
        if (clear.owner == window_ && clear.selection == selection_) {
          log(LogLevel::warning, "X11SingleInstance: another client took this copy's lock");
        }
      }
    });
  }
}

X11SingleInstance::~X11SingleInstance() {
  if (subscription_ != 0) x11_.unsubscribe(subscription_);
  if (window_ != XCB_NONE) {
    xcb_destroy_window(x11_.connection(), window_);
    x11_.flush();
  }
}

bool X11SingleInstance::askRunningCopyToShowSettings() {
  if (first_ || owner_ == XCB_NONE) return false;
  xcb_client_message_event_t message;
  std::memset(&message, 0, sizeof message);
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = owner_;
  message.type = showSettings_;
  xcb_connection_t* c = x11_.connection();
  // An empty event mask sends the event to the client that created the window.
  const auto cookie =
      xcb_send_event_checked(c, 0, owner_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
  const XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
  return error == nullptr;
}

void X11SingleInstance::onShowSettingsRequested(std::function<void()> handler) {
  handler_ = std::move(handler);
}

}  // namespace platform
