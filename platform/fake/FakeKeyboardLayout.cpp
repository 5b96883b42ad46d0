#include "platform/fake/FakeKeyboardLayout.h"

#include <array>

namespace platform::fake {
namespace {

struct Row {
  const char* firstName;  // e.g. "AD" rows are named AD01, AD02, ...
  std::uint32_t firstKeycode;
  const char* texts;
};

// The four alphanumeric rows of a US keyboard, left to right.
constexpr std::array<Row, 4> kRows{{
    {"AE", 10, "1234567890-="},
    {"AD", 24, "qwertyuiop[]"},
    {"AC", 38, "asdfghjkl;'"},
    {"AB", 52, "zxcvbnm,./"},
}};

struct Single {
  const char* name;
  std::uint32_t keycode;
  const char* text;
};

constexpr std::array<Single, 13> kSingles{{
    {"TLDE", 49, "`"},
    {"BKSL", 51, "\\"},
    {"SPCE", 65, " "},
    {"RTRN", 36, "\r"},
    {"TAB", 23, "\t"},
    {"ESC", 9, "\x1b"},
    {"BKSP", 22, "\b"},
    {"DELE", 119, "\x7f"},
    // Modifier keys type nothing.
    {"LFSH", 50, ""},
    {"LCTL", 37, ""},
    {"LALT", 64, ""},
    {"RALT", 108, ""},
    {"LWIN", 133, ""},
}};

}  // namespace

FakeKeyboardLayout FakeKeyboardLayout::usLayout() {
  FakeKeyboardLayout layout;
  for (const auto& row : kRows) {
    const std::string texts = row.texts;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const std::string number = (i + 1 < 10 ? "0" : "") + std::to_string(i + 1);
      const std::string name = std::string(row.firstName) + number;
      layout.setText(name, texts.substr(i, 1));
      layout.setKeycode(row.firstKeycode + static_cast<std::uint32_t>(i), name);
    }
  }
  for (const auto& single : kSingles) {
    layout.setText(single.name, single.text);
    layout.setKeycode(single.keycode, single.name);
  }
  for (std::uint32_t i = 1; i <= 12; ++i) {
    const std::string name = std::string("FK") + (i < 10 ? "0" : "") + std::to_string(i);
    layout.setKeycode(i <= 10 ? 66 + i : 84 + i, name);
  }
  return layout;
}

FakeKeyboardLayout FakeKeyboardLayout::unavailable() {
  FakeKeyboardLayout layout = usLayout();
  layout.available_ = false;
  return layout;
}

std::optional<std::string> FakeKeyboardLayout::textForKey(std::string_view xkbKeyName) const {
  if (!available_) return std::nullopt;
  auto it = texts_.find(xkbKeyName);
  if (it == texts_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> FakeKeyboardLayout::keyNameForKeycode(std::uint32_t keycode) const {
  auto it = keyNames_.find(keycode);
  if (it == keyNames_.end()) return std::nullopt;
  return it->second;
}

}  // namespace platform::fake
