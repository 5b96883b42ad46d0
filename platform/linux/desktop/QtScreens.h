#pragma once

#include "platform/Screens.h"

namespace platform {

// The displays Qt knows (QScreen), the primary one first, and the pointer (QCursor), in y-up screen
// coordinates. Needs a QGuiApplication. Main thread only.
class QtScreens final : public Screens {
 public:
  std::vector<Screen> screens() const override;
  std::optional<Screen> mainScreen() const override;
  Point mouseLocation() const override;
};

}  // namespace platform
