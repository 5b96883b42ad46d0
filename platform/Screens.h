#pragma once

#include <optional>
#include <vector>

#include "platform/Geometry.h"

namespace platform {

// One display, in y-up screen coordinates (Geometry.h).
struct Screen {
  Rect frame;
  // The part of the frame that windows may use: without panels, docks and menu bars.
  Rect visibleFrame;
  friend bool operator==(const Screen&, const Screen&) = default;
};

// The displays of the session and the pointer on them. Main thread only.
class Screens {
 public:
  virtual ~Screens() = default;
  // Every screen, the main screen first; empty when the session has no display.
  virtual std::vector<Screen> screens() const = 0;
  // The screen whose bottom-left corner is the coordinate origin; nothing when there is no display.
  virtual std::optional<Screen> mainScreen() const = 0;
  // Where the pointer is now.
  virtual Point mouseLocation() const = 0;
};

}  // namespace platform
