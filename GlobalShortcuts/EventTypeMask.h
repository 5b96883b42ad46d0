#pragma once

#include <cstdint>

#include "platform/OptionSet.h"

class QEvent;

namespace GlobalShortcuts {

// Which input events a local monitor watches. Each type is one bit, 1 << (its event type number), so the
// masks the shortcuts code is written with keep their values (key down and up 0xC00; left and right
// mouse up with key down 0x414). Plain value: any thread.
class EventTypeMask : public platform::OptionSet<EventTypeMask, std::uint64_t> {
 public:
  using OptionSet::OptionSet;

  // The one type of a Qt input event: key press and release (auto-repeats included) are key down and
  // up; a press or a double click of the left, right or any other button is that button's mouse down;
  // a wheel event is a scroll. Any other event gives the empty mask.
  static EventTypeMask forEvent(const QEvent& event) noexcept;

  static const EventTypeMask leftMouseDown;
  static const EventTypeMask leftMouseUp;
  static const EventTypeMask rightMouseDown;
  static const EventTypeMask rightMouseUp;
  static const EventTypeMask keyDown;
  static const EventTypeMask keyUp;
  static const EventTypeMask scrollWheel;
  static const EventTypeMask otherMouseDown;
  static const EventTypeMask otherMouseUp;
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
