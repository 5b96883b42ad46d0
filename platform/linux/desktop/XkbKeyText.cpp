#include "platform/linux/desktop/XkbKeyText.h"

#include <xkbcommon/xkbcommon.h>

#include <array>
#include <memory>

namespace platform {
namespace {

struct StateDeleter {
  void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

// The positions of the 26 letters of a US keyboard: a group whose keys there type ASCII is ASCII-capable
// (AZERTY and QWERTZ are, Cyrillic and Greek are not).
constexpr std::array<const char*, 26> kLetterKeys{
    "AD01", "AD02", "AD03", "AD04", "AD05", "AD06", "AD07", "AD08", "AD09", "AD10", "AC01", "AC02", "AC03",
    "AC04", "AC05", "AC06", "AC07", "AC08", "AC09", "AB01", "AB02", "AB03", "AB04", "AB05", "AB06", "AB07"};

// Dead keys type nothing by themselves; people know them by the spacing form of their accent.
struct DeadKey {
  xkb_keysym_t keysym;
  const char* accent;
};
constexpr std::array<DeadKey, 16> kDeadKeys{{
    {XKB_KEY_dead_grave, "`"},
    {XKB_KEY_dead_acute, "\u00B4"},
    {XKB_KEY_dead_circumflex, "^"},
    {XKB_KEY_dead_tilde, "~"},
    {XKB_KEY_dead_macron, "\u00AF"},
    {XKB_KEY_dead_breve, "\u02D8"},
    {XKB_KEY_dead_abovedot, "\u02D9"},
    {XKB_KEY_dead_diaeresis, "\u00A8"},
    {XKB_KEY_dead_abovering, "\u02DA"},
    {XKB_KEY_dead_doubleacute, "\u02DD"},
    {XKB_KEY_dead_caron, "\u02C7"},
    {XKB_KEY_dead_cedilla, "\u00B8"},
    {XKB_KEY_dead_ogonek, "\u02DB"},
    {XKB_KEY_dead_iota, "\u037A"},
    {XKB_KEY_dead_voiced_sound, "\u309B"},
    {XKB_KEY_dead_semivoiced_sound, "\u309C"},
}};

using State = std::unique_ptr<xkb_state, StateDeleter>;

// A keyboard state with `group` locked and no modifier.
State stateIn(xkb_keymap* keymap, xkb_layout_index_t group) {
  State state(xkb_state_new(keymap));
  if (state) xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, group);
  return state;
}

// The one keysym of `keycode` at level 0 of the state's group (a key with fewer groups than the keymap
// wraps, clamps or redirects as the keymap says); nothing when there is not exactly one.
std::optional<xkb_keysym_t> keysym(xkb_state* state, xkb_keycode_t keycode) {
  const xkb_layout_index_t layout = xkb_state_key_get_layout(state, keycode);
  if (layout == XKB_LAYOUT_INVALID) return std::nullopt;
  const xkb_keysym_t* syms = nullptr;
  if (xkb_keymap_key_get_syms_by_level(xkb_state_get_keymap(state), keycode, layout, 0, &syms) != 1) {
    return std::nullopt;
  }
  return syms[0];
}

bool typesAscii(xkb_keymap* keymap, xkb_layout_index_t group) {
  const State state = stateIn(keymap, group);
  if (!state) return false;
  for (const char* name : kLetterKeys) {
    const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap, name);
    if (keycode == XKB_KEYCODE_INVALID) return false;
    const auto sym = keysym(state.get(), keycode);
    if (!sym) return false;
    const std::uint32_t character = xkb_keysym_to_utf32(*sym);
    if (character < 0x20 || character > 0x7E) return false;
  }
  return true;
}

xkb_layout_index_t asciiCapableGroup(xkb_keymap* keymap, std::uint32_t currentGroup) {
  const xkb_layout_index_t count = xkb_keymap_num_layouts(keymap);
  const xkb_layout_index_t current = currentGroup < count ? currentGroup : 0;
  if (typesAscii(keymap, current)) return current;
  for (xkb_layout_index_t group = 0; group < count; ++group) {
    if (group != current && typesAscii(keymap, group)) return group;
  }
  return current;
}

std::string textOf(xkb_keysym_t sym) {
  for (const auto& dead : kDeadKeys) {
    if (dead.keysym == sym) return dead.accent;
  }
  // Enough for any UTF-8 character and its terminating NUL.
  std::array<char, 8> buffer{};
  const int length = xkb_keysym_to_utf8(sym, buffer.data(), buffer.size());
  return length > 1 ? std::string(buffer.data()) : std::string();
}

}  // namespace

std::optional<std::string> xkbTextForKey(xkb_keymap* keymap, std::uint32_t currentGroup,
                                         std::string_view keyName) {
  if (keymap == nullptr) return std::nullopt;
  const std::string name(keyName);
  const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap, name.c_str());
  if (keycode == XKB_KEYCODE_INVALID) return std::nullopt;
  const State state = stateIn(keymap, asciiCapableGroup(keymap, currentGroup));
  if (!state) return std::nullopt;
  const auto sym = keysym(state.get(), keycode);
  if (!sym) return std::nullopt;
  return textOf(*sym);
}

std::optional<std::string> xkbNameForKeycode(xkb_keymap* keymap, std::uint32_t keycode) {
  if (keymap == nullptr) return std::nullopt;
  const char* name = xkb_keymap_key_get_name(keymap, keycode);
  if (name == nullptr) return std::nullopt;
  return std::string(name);
}

}  // namespace platform
