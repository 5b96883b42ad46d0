#pragma once

#include <QtCore/qnamespace.h>

#include <cstdint>
#include <string>

#include "GlobalShortcuts/EventModifiers.h"
#include "platform/OptionSet.h"

namespace GlobalShortcuts {

// Modifier flags in Cocoa units, the form key events and menus use. Storage and hot-key registration use
// the Carbon mask instead (carbon(), fromCarbon()); only Control, Option, Shift, Command and Function have
// a Carbon bit, so a round trip through Carbon keeps exactly those five.
//
//   modifier     Cocoa flag   Carbon bit   Qt modifier (the Linux edge: Command=Ctrl, Control=Super)
//   Caps Lock    0x010000     (dropped)    (none: Qt has no Caps Lock modifier, dropped)
//   Shift        0x020000     0x000200     Qt::ShiftModifier
//   Control      0x040000     0x001000     Qt::MetaModifier (the Super key)
//   Option       0x080000     0x000800     Qt::AltModifier
//   Command      0x100000     0x000100     Qt::ControlModifier
//   numeric pad  0x200000     (dropped)    Qt::KeypadModifier
//   Function     0x800000     0x020000     (none: X11 has no Fn modifier, dropped)
//
// Plain value: any thread.
class ModifierFlags : public platform::OptionSet<ModifierFlags, std::uint64_t> {
 public:
  using OptionSet::OptionSet;
  using CarbonMask = std::int64_t;

  // Every Carbon bit other than the five modifiers above (Caps Lock 0x400, the right-side bits, ...) is
  // dropped.
  static ModifierFlags fromCarbon(CarbonMask carbon) noexcept;
  // Every flag without a Carbon bit (Caps Lock, numeric pad, help, device-dependent bits) is dropped.
  CarbonMask carbon() const noexcept;

  // The modifiers as people read them, always in the order Control, Option, Shift, Command, Function
  // (⌃⌥⇧⌘ and the globe in text presentation), without separators; UTF-8.
  std::string ks_symbolicRepresentation() const;

  // Keeps Caps Lock and numeric pad, unlike carbon().
  EventModifiers toEventModifiers() const noexcept;

  // Qt modifiers by the Linux edge rule in the table above. Caps Lock and Function have no Qt modifier and
  // are dropped; so are flags outside the table.
  Qt::KeyboardModifiers toQt() const noexcept;
  // The inverse; Qt::GroupSwitchModifier has no counterpart and is dropped.
  static ModifierFlags fromQt(Qt::KeyboardModifiers modifiers) noexcept;

  static const ModifierFlags capsLock;
  static const ModifierFlags shift;
  static const ModifierFlags control;
  static const ModifierFlags option;
  static const ModifierFlags command;
  static const ModifierFlags numericPad;
  static const ModifierFlags help;
  static const ModifierFlags function;
};

inline constexpr ModifierFlags ModifierFlags::capsLock{0x10000};
inline constexpr ModifierFlags ModifierFlags::shift{0x20000};
inline constexpr ModifierFlags ModifierFlags::control{0x40000};
inline constexpr ModifierFlags ModifierFlags::option{0x80000};
inline constexpr ModifierFlags ModifierFlags::command{0x100000};
inline constexpr ModifierFlags ModifierFlags::numericPad{0x200000};
inline constexpr ModifierFlags ModifierFlags::help{0x400000};
inline constexpr ModifierFlags ModifierFlags::function{0x800000};

}  // namespace GlobalShortcuts
