#pragma once

#include <optional>

#include "platform/KeyWindowScreen.h"

namespace platform::fake {

// The key window's screen size as the test sets it; nothing stands for "no key window".
class StoredKeyWindowScreen final : public KeyWindowScreen {
 public:
  std::optional<Size> size;

  std::optional<Size> keyWindowScreenSize() const override { return size; }
};

}  // namespace platform::fake
