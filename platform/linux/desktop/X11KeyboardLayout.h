#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/KeyboardLayout.h"
#include "platform/linux/desktop/X11Connection.h"

namespace platform {

// The user's keyboard layout on the X server, live: texts come from the connection's current keymap (which
// the connection reloads when the keymap changes) in the group the server reports at each lookup (one
// round trip), so a layout switch shows at once. The texts follow the rules of XkbKeyText.h: with "ru,us"
// and Russian active, keys show their US letters. Keycodes are the server's.
//
// Main thread only. The connection must outlive this object.
class X11KeyboardLayout final : public KeyboardLayout {
 public:
  explicit X11KeyboardLayout(X11Connection& x11) : x11_(x11) {}

  std::optional<std::string> textForKey(std::string_view xkbKeyName) const override;
  std::optional<std::string> keyNameForKeycode(std::uint32_t keycode) const override;

  // The group the server has active now; 0 when it cannot say (the connection broke).
  std::uint32_t currentGroup() const;

 private:
  X11Connection& x11_;
};

}  // namespace platform
