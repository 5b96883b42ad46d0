#pragma once

#include <cstdint>

class QEvent;

namespace GlobalShortcuts {

// Which input events a local monitor watches. Each type is one bit, 1 << (its event type number), so the
// masks the shortcuts code is written with keep their values (key down and up 0xC00; left and right
// mouse up with key down 0x414). Plain value: any thread.
class EventTypeMask {
 public:
  using RawValue = std::uint64_t;

  constexpr EventTypeMask() noexcept = default;
  constexpr explicit EventTypeMask(RawValue rawValue) noexcept : rawValue_(rawValue) {}

  // The one type of a Qt input event: key press and release (auto-repeats included) are key down and
  // up; a press or a double click of the left, right or any other button is that button's mouse down;
  // a wheel event is a scroll. Any other event gives the empty mask.
  static EventTypeMask forEvent(const QEvent& event) noexcept;

  constexpr RawValue rawValue() const noexcept { return rawValue_; }
  constexpr bool isEmpty() const noexcept { return rawValue_ == 0; }
  // True when the two masks share a type.
  constexpr bool intersects(EventTypeMask other) const noexcept { return (rawValue_ & other.rawValue_) != 0; }

  friend constexpr bool operator==(EventTypeMask, EventTypeMask) noexcept = default;
  friend constexpr EventTypeMask operator|(EventTypeMask a, EventTypeMask b) noexcept {
    return EventTypeMask(a.rawValue_ | b.rawValue_);
  }

  static const EventTypeMask leftMouseDown;
  static const EventTypeMask leftMouseUp;
  static const EventTypeMask rightMouseDown;
  static const EventTypeMask rightMouseUp;
  static const EventTypeMask keyDown;
  static const EventTypeMask keyUp;
  static const EventTypeMask scrollWheel;
  static const EventTypeMask otherMouseDown;
  static const EventTypeMask otherMouseUp;

 private:
  RawValue rawValue_ = 0;
};

inline constexpr EventTypeMask EventTypeMask::leftMouseDown{RawValue{1} << 1};
inline constexpr EventTypeMask EventTypeMask::leftMouseUp{RawValue{1} << 2};
inline constexpr EventTypeMask EventTypeMask::rightMouseDown{RawValue{1} << 3};
inline constexpr EventTypeMask EventTypeMask::rightMouseUp{RawValue{1} << 4};
inline constexpr EventTypeMask EventTypeMask::keyDown{RawValue{1} << 10};
inline constexpr EventTypeMask EventTypeMask::keyUp{RawValue{1} << 11};
inline constexpr EventTypeMask EventTypeMask::scrollWheel{RawValue{1} << 22};
inline constexpr EventTypeMask EventTypeMask::otherMouseDown{RawValue{1} << 25};
inline constexpr EventTypeMask EventTypeMask::otherMouseUp{RawValue{1} << 26};

}  // namespace GlobalShortcuts
