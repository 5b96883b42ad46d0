#pragma once

#include <optional>
#include <vector>

#include "platform/Screens.h"

namespace platform::fake {

// Screens with geometry set by the test; the main screen is the first one.
class StoredScreens final : public Screens {
 public:
  std::vector<Screen> list;
  Point mouse;

  std::vector<Screen> screens() const override { return list; }
  std::optional<Screen> mainScreen() const override {
    if (list.empty()) return std::nullopt;
    return list.front();
  }
  Point mouseLocation() const override { return mouse; }
};

}  // namespace platform::fake
