#pragma once

#include <cstdint>

#include "platform/OptionSet.h"

namespace GlobalShortcuts {

// Modifier set in the units of declarative keyboard shortcuts (bit values fixed: Caps Lock 1, Shift 2,
// Control 4, Option 8, Command 16, numeric pad 32, Function 64). Unlike the Carbon mask it keeps Caps
// Lock and numeric pad. Plain value: any thread.
class EventModifiers : public platform::OptionSet<EventModifiers, std::uint32_t> {
 public:
  using OptionSet::OptionSet;

  static const EventModifiers capsLock;
  static const EventModifiers shift;
  static const EventModifiers control;
  static const EventModifiers option;
  static const EventModifiers command;
  static const EventModifiers numericPad;
  static const EventModifiers function;
};

inline constexpr EventModifiers EventModifiers::capsLock{1};
inline constexpr EventModifiers EventModifiers::shift{2};
inline constexpr EventModifiers EventModifiers::control{4};
inline constexpr EventModifiers EventModifiers::option{8};
inline constexpr EventModifiers EventModifiers::command{16};
inline constexpr EventModifiers EventModifiers::numericPad{32};
inline constexpr EventModifiers EventModifiers::function{64};

}  // namespace GlobalShortcuts
