#include "GlobalShortcuts/KeyNames.h"

#include <array>

namespace GlobalShortcuts {
namespace {

struct KeyName {
  Key key;
  std::string_view name;
};

constexpr std::array kKeyNames{
    // Letters, digits and punctuation by row: AE (digits), AD (QWERTY), AC (ASDF), AB (ZXCV).
    KeyName{Key::backtick, "TLDE"},
    KeyName{Key::one, "AE01"},
    KeyName{Key::two, "AE02"},
    KeyName{Key::three, "AE03"},
    KeyName{Key::four, "AE04"},
    KeyName{Key::five, "AE05"},
    KeyName{Key::six, "AE06"},
    KeyName{Key::seven, "AE07"},
    KeyName{Key::eight, "AE08"},
    KeyName{Key::nine, "AE09"},
    KeyName{Key::zero, "AE10"},
    KeyName{Key::minus, "AE11"},
    KeyName{Key::equal, "AE12"},
    KeyName{Key::q, "AD01"},
    KeyName{Key::w, "AD02"},
    KeyName{Key::e, "AD03"},
    KeyName{Key::r, "AD04"},
    KeyName{Key::t, "AD05"},
    KeyName{Key::y, "AD06"},
    KeyName{Key::u, "AD07"},
    KeyName{Key::i, "AD08"},
    KeyName{Key::o, "AD09"},
    KeyName{Key::p, "AD10"},
    KeyName{Key::leftBracket, "AD11"},
    KeyName{Key::rightBracket, "AD12"},
    KeyName{Key::backslash, "BKSL"},
    KeyName{Key::a, "AC01"},
    KeyName{Key::s, "AC02"},
    KeyName{Key::d, "AC03"},
    KeyName{Key::f, "AC04"},
    KeyName{Key::g, "AC05"},
    KeyName{Key::h, "AC06"},
    KeyName{Key::j, "AC07"},
    KeyName{Key::k, "AC08"},
    KeyName{Key::l, "AC09"},
    KeyName{Key::semicolon, "AC10"},
    KeyName{Key::quote, "AC11"},
    KeyName{Key::z, "AB01"},
    KeyName{Key::x, "AB02"},
    KeyName{Key::c, "AB03"},
    KeyName{Key::v, "AB04"},
    KeyName{Key::b, "AB05"},
    KeyName{Key::n, "AB06"},
    KeyName{Key::m, "AB07"},
    KeyName{Key::comma, "AB08"},
    KeyName{Key::period, "AB09"},
    KeyName{Key::slash, "AB10"},
    // White space and editing.
    KeyName{Key::return_, "RTRN"},
    KeyName{Key::tab, "TAB"},
    KeyName{Key::space, "SPCE"},
    KeyName{Key::delete_, "BKSP"},
    KeyName{Key::escape, "ESC"},
    KeyName{Key::help, "INS"},
    KeyName{Key::deleteForward, "DELE"},
    KeyName{Key::home, "HOME"},
    KeyName{Key::end, "END"},
    KeyName{Key::pageUp, "PGUP"},
    KeyName{Key::pageDown, "PGDN"},
    KeyName{Key::upArrow, "UP"},
    KeyName{Key::downArrow, "DOWN"},
    KeyName{Key::leftArrow, "LEFT"},
    KeyName{Key::rightArrow, "RGHT"},
    // Modifier keys, by the edge rule.
    KeyName{Key::capsLock, "CAPS"},
    KeyName{Key::shift, "LFSH"},
    KeyName{Key::rightShift, "RTSH"},
    KeyName{Key::command, "LCTL"},
    KeyName{Key::rightCommand, "RCTL"},
    KeyName{Key::control, "LWIN"},
    KeyName{Key::rightControl, "RWIN"},
    KeyName{Key::option, "LALT"},
    KeyName{Key::rightOption, "RALT"},
    // Sound.
    KeyName{Key::mute, "MUTE"},
    KeyName{Key::volumeUp, "VOL+"},
    KeyName{Key::volumeDown, "VOL-"},
    // Function keys.
    KeyName{Key::f1, "FK01"},
    KeyName{Key::f2, "FK02"},
    KeyName{Key::f3, "FK03"},
    KeyName{Key::f4, "FK04"},
    KeyName{Key::f5, "FK05"},
    KeyName{Key::f6, "FK06"},
    KeyName{Key::f7, "FK07"},
    KeyName{Key::f8, "FK08"},
    KeyName{Key::f9, "FK09"},
    KeyName{Key::f10, "FK10"},
    KeyName{Key::f11, "FK11"},
    KeyName{Key::f12, "FK12"},
    KeyName{Key::f13, "FK13"},
    KeyName{Key::f14, "FK14"},
    KeyName{Key::f15, "FK15"},
    KeyName{Key::f16, "FK16"},
    KeyName{Key::f17, "FK17"},
    KeyName{Key::f18, "FK18"},
    KeyName{Key::f19, "FK19"},
    KeyName{Key::f20, "FK20"},
    // Keypad.
    KeyName{Key::keypad0, "KP0"},
    KeyName{Key::keypad1, "KP1"},
    KeyName{Key::keypad2, "KP2"},
    KeyName{Key::keypad3, "KP3"},
    KeyName{Key::keypad4, "KP4"},
    KeyName{Key::keypad5, "KP5"},
    KeyName{Key::keypad6, "KP6"},
    KeyName{Key::keypad7, "KP7"},
    KeyName{Key::keypad8, "KP8"},
    KeyName{Key::keypad9, "KP9"},
    KeyName{Key::keypadClear, "NMLK"},
    KeyName{Key::keypadDecimal, "KPDL"},
    KeyName{Key::keypadDivide, "KPDV"},
    KeyName{Key::keypadEnter, "KPEN"},
    KeyName{Key::keypadEquals, "KPEQ"},
    KeyName{Key::keypadMinus, "KPSU"},
    KeyName{Key::keypadMultiply, "KPMU"},
    KeyName{Key::keypadPlus, "KPAD"},
};

}  // namespace

std::optional<std::string_view> xkbKeyName(Key key) noexcept {
  for (const auto& entry : kKeyNames) {
    if (entry.key == key) return entry.name;
  }
  return std::nullopt;
}

std::optional<Key> keyForXkbKeyName(std::string_view name) noexcept {
  for (const auto& entry : kKeyNames) {
    if (entry.name == name) return entry.key;
  }
  return std::nullopt;
}

}  // namespace GlobalShortcuts
