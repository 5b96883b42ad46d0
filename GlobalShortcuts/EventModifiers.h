#pragma once

#include <cstdint>

namespace GlobalShortcuts {

// Modifier set in the units of declarative keyboard shortcuts (bit values fixed: Caps Lock 1, Shift 2,
// Control 4, Option 8, Command 16, numeric pad 32, Function 64). Unlike the Carbon mask it keeps Caps
// Lock and numeric pad. Plain value: any thread.
class EventModifiers {
 public:
  using RawValue = std::uint32_t;

  constexpr EventModifiers() noexcept = default;
  constexpr explicit EventModifiers(RawValue rawValue) noexcept : rawValue_(rawValue) {}

  constexpr RawValue rawValue() const noexcept { return rawValue_; }
  constexpr bool isEmpty() const noexcept { return rawValue_ == 0; }
  constexpr bool contains(EventModifiers other) const noexcept {
    return (rawValue_ & other.rawValue_) == other.rawValue_;
  }

  friend constexpr bool operator==(EventModifiers, EventModifiers) noexcept = default;
  friend constexpr EventModifiers operator|(EventModifiers a, EventModifiers b) noexcept {
    return EventModifiers(a.rawValue_ | b.rawValue_);
  }
  constexpr EventModifiers& operator|=(EventModifiers other) noexcept {
    rawValue_ |= other.rawValue_;
    return *this;
  }

  static const EventModifiers capsLock;
  static const EventModifiers shift;
  static const EventModifiers control;
  static const EventModifiers option;
  static const EventModifiers command;
  static const EventModifiers numericPad;
  static const EventModifiers function;

 private:
  RawValue rawValue_ = 0;
};

inline constexpr EventModifiers EventModifiers::capsLock{1};
inline constexpr EventModifiers EventModifiers::shift{2};
inline constexpr EventModifiers EventModifiers::control{4};
inline constexpr EventModifiers EventModifiers::option{8};
inline constexpr EventModifiers EventModifiers::command{16};
inline constexpr EventModifiers EventModifiers::numericPad{32};
inline constexpr EventModifiers EventModifiers::function{64};

}  // namespace GlobalShortcuts
