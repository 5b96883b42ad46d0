#include "platform/linux/desktop/XkbKeyboardLayout.h"

#include <xkbcommon/xkbcommon.h>

#include "platform/linux/desktop/XkbKeyText.h"

namespace platform {

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::fromNames(const std::string& layouts,
                                                                const std::string& variants) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (context == nullptr) return nullptr;
  const xkb_rule_names names{"evdev", "pc105", layouts.c_str(), variants.c_str(), ""};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) {
    xkb_context_unref(context);
    return nullptr;
  }
  return std::unique_ptr<XkbKeyboardLayout>(new XkbKeyboardLayout(context, keymap));
}

XkbKeyboardLayout::~XkbKeyboardLayout() {
  xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

std::optional<std::string> XkbKeyboardLayout::textForKey(std::string_view xkbKeyName) const {
  return xkbTextForKey(keymap_, currentGroup_, xkbKeyName);
}

std::optional<std::string> XkbKeyboardLayout::keyNameForKeycode(std::uint32_t keycode) const {
  return xkbNameForKeycode(keymap_, keycode);
}

}  // namespace platform
