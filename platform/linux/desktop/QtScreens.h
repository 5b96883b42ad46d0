#pragma once

#include "platform/Screens.h"

namespace platform {

// The session's displays from QGuiApplication, flipped to y-up coordinates at the primary screen's bottom
// edge. Needs a QGuiApplication; main thread only.
class QtScreens final : public Screens {
 public:
  std::vector<Screen> screens() const override;
  std::optional<Screen> mainScreen() const override;
  Point mouseLocation() const override;
};

}  // namespace platform
