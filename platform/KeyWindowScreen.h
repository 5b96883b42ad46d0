#pragma once

#include <optional>

#include "platform/Geometry.h"

namespace platform {

// The size of the screen that shows the application's key (active) window. The program provides it from
// its toolkit; code that has none leaves the size unknown. Main thread only.
class KeyWindowScreen {
 public:
  virtual ~KeyWindowScreen() = default;
  // Nothing when no window of the application is key, or the key window is on no screen.
  virtual std::optional<Size> keyWindowScreenSize() const = 0;
};

}  // namespace platform
