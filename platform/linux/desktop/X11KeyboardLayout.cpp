#include "platform/linux/desktop/X11KeyboardLayout.h"

#include <cstdlib>
#include <memory>

#include "platform/linux/desktop/X11Xkb.h"
#include "platform/linux/desktop/XkbKeyText.h"

namespace platform {

std::optional<std::string> X11KeyboardLayout::textForKey(std::string_view xkbKeyName) const {
  return xkbTextForKey(x11_.keymap(), currentGroup(), xkbKeyName);
}

std::optional<std::string> X11KeyboardLayout::keyNameForKeycode(std::uint32_t keycode) const {
  if (keycode > 255) return std::nullopt;
  return x11_.nameForKeycode(static_cast<xcb_keycode_t>(keycode));
}

std::uint32_t X11KeyboardLayout::currentGroup() const {
  xcb_connection_t* conn = x11_.connection();
  const auto device = static_cast<xcb_xkb_device_spec_t>(x11_.keyboardDeviceId());
  std::unique_ptr<xcb_xkb_get_state_reply_t, decltype(&std::free)> state(
      xcb_xkb_get_state_reply(conn, xcb_xkb_get_state(conn, device), nullptr), &std::free);
  return state ? state->group : 0;
}

}  // namespace platform
