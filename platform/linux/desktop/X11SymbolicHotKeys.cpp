#include "platform/linux/desktop/X11SymbolicHotKeys.h"

#include "platform/linux/desktop/X11HotKeySystem.h"

namespace platform {

namespace {

constexpr std::uint32_t kLastCarbonKeyCode = 0x7F;

}  // namespace

std::optional<std::vector<SymbolicHotKeys::Entry>> X11SymbolicHotKeys::copySymbolicHotKeys() const {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> combos;
  for (std::uint32_t code = 0; code <= kLastCarbonKeyCode; ++code) {
    if (!hotKeys_.isExpressible(code, 0)) continue;
    const bool typesText = !hotKeys_.hasSynthesizedFunction(code);
    for (std::uint32_t bits = 0; bits < 16; ++bits) {
      std::uint32_t modifiers = 0;
      if (bits & 1) modifiers |= carbon::command;
      if (bits & 2) modifiers |= carbon::option;
      if (bits & 4) modifiers |= carbon::control;
      if (bits & 8) modifiers |= carbon::shift;
      if (typesText && (modifiers & ~carbon::shift) == 0) continue;
      combos.emplace_back(code, modifiers);
    }
  }
  const auto held = hotKeys_.heldByOtherClients(combos);
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < combos.size(); ++i) {
    if (held[i]) entries.push_back(Entry{true, combos[i].first, combos[i].second});
  }
  return entries;
}

}  // namespace platform
