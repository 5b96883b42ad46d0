#include "GlobalShortcuts/ModifierFlags.h"

#include <array>

#include "platform/HotKeySystem.h"

namespace GlobalShortcuts {
namespace {

struct CarbonBit {
  ModifierFlags flag;
  ModifierFlags::CarbonMask carbon;
};
constexpr std::array<CarbonBit, 5> kCarbonBits{{
    {ModifierFlags::control, platform::carbon::control},
    {ModifierFlags::option, platform::carbon::option},
    {ModifierFlags::shift, platform::carbon::shift},
    {ModifierFlags::command, platform::carbon::command},
    {ModifierFlags::function, platform::carbon::function},
}};

struct QtBit {
  ModifierFlags flag;
  Qt::KeyboardModifier qt;
};
constexpr std::array<QtBit, 5> kQtBits{{
    {ModifierFlags::command, Qt::ControlModifier},
    {ModifierFlags::control, Qt::MetaModifier},
    {ModifierFlags::option, Qt::AltModifier},
    {ModifierFlags::shift, Qt::ShiftModifier},
    {ModifierFlags::numericPad, Qt::KeypadModifier},
}};

}  // namespace

ModifierFlags ModifierFlags::fromCarbon(CarbonMask carbon) noexcept {
  ModifierFlags flags;
  for (const auto& bit : kCarbonBits) {
    if ((carbon & bit.carbon) != 0) flags |= bit.flag;
  }
  return flags;
}

ModifierFlags::CarbonMask ModifierFlags::carbon() const noexcept {
  CarbonMask mask = 0;
  for (const auto& bit : kCarbonBits) {
    if (contains(bit.flag)) mask |= bit.carbon;
  }
  return mask;
}

std::string ModifierFlags::ks_symbolicRepresentation() const {
  std::string text;
  if (contains(control)) text += "\u2303";
  if (contains(option)) text += "\u2325";
  if (contains(shift)) text += "\u21E7";
  if (contains(command)) text += "\u2318";
  // The globe is followed by the text-presentation selector so that it renders like the other symbols
  // rather than as a coloured emoji.
  if (contains(function)) text += "\U0001F310\uFE0E";
  return text;
}

EventModifiers ModifierFlags::toEventModifiers() const noexcept {
  EventModifiers result;
  if (contains(capsLock)) result |= EventModifiers::capsLock;
  if (contains(command)) result |= EventModifiers::command;
  if (contains(control)) result |= EventModifiers::control;
  if (contains(numericPad)) result |= EventModifiers::numericPad;
  if (contains(option)) result |= EventModifiers::option;
  if (contains(shift)) result |= EventModifiers::shift;
  if (contains(function)) result |= EventModifiers::function;
  return result;
}

Qt::KeyboardModifiers ModifierFlags::toQt() const noexcept {
  Qt::KeyboardModifiers result;
  for (const auto& bit : kQtBits) {
    if (contains(bit.flag)) result |= bit.qt;
  }
  return result;
}

ModifierFlags ModifierFlags::fromQt(Qt::KeyboardModifiers modifiers) noexcept {
  ModifierFlags flags;
  for (const auto& bit : kQtBits) {
    if (modifiers.testFlag(bit.qt)) flags |= bit.flag;
  }
  return flags;
}

}  // namespace GlobalShortcuts
