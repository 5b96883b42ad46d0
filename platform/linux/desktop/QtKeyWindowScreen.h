#pragma once

#include "platform/KeyWindowScreen.h"

namespace platform {

// The size of the screen that shows the window with the keyboard focus (QGuiApplication::focusWindow), in
// device-independent pixels. Needs a QGuiApplication. Main thread only.
class QtKeyWindowScreen final : public KeyWindowScreen {
 public:
  std::optional<Size> keyWindowScreenSize() const override;
};

}  // namespace platform
