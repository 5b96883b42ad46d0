#pragma once

#include "platform/AppWindow.h"

namespace platform {

// Windows as top-level QWidgets holding the content in a margin-less layout. The close button only hides
// the window. Geometry is flipped between Qt's y-down coordinates and the y-up ones of Geometry.h at the
// primary screen. Needs a QApplication; main thread only.
class QtAppWindowHost final : public AppWindowHost {
 public:
  std::unique_ptr<AppWindow> makeWindow(QWidget* content) override;
};

}  // namespace platform
