#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/KeyboardLayout.h"

struct xkb_context;
struct xkb_keymap;

namespace platform {

// A keyboard layout compiled by xkbcommon from XKB layout names, without an X server: the layouts a user
// could have ("us", "de", "fr", "ru,us" for Russian with US as second group), for tools and tests. The
// texts follow the rules of XkbKeyText.h; the current group is the first until setCurrentGroup() says
// otherwise. Main thread.
class XkbKeyboardLayout final : public KeyboardLayout {
 public:
  // `layouts` and `variants` as setxkbmap takes them (comma-separated, one per group; an empty variant is
  // the layout's default), with the evdev rules and the pc105 model; the process environment plays no part.
  // Nothing when xkbcommon cannot compile them (an unknown layout, no XKB data installed).
  static std::unique_ptr<XkbKeyboardLayout> fromNames(const std::string& layouts,
                                                      const std::string& variants = "");
  ~XkbKeyboardLayout() override;
  XkbKeyboardLayout(const XkbKeyboardLayout&) = delete;
  XkbKeyboardLayout& operator=(const XkbKeyboardLayout&) = delete;

  // The group the user has switched to (0 is the first layout named).
  void setCurrentGroup(std::uint32_t group) { currentGroup_ = group; }

  std::optional<std::string> textForKey(std::string_view xkbKeyName) const override;
  std::optional<std::string> keyNameForKeycode(std::uint32_t keycode) const override;

 private:
  XkbKeyboardLayout(xkb_context* context, xkb_keymap* keymap) : context_(context), keymap_(keymap) {}

  xkb_context* context_;
  xkb_keymap* keymap_;
  std::uint32_t currentGroup_ = 0;
};

}  // namespace platform
