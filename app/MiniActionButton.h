#pragma once

#include <functional>
#include <string>

#include "app/SymbolButton.h"

namespace quorvelle {

// The popup's small action button: a 9-pixel symbol with 3 pixels of padding, a faint rounded highlight
// while hovered, `help` as its tooltip, and `action` run on each press. It leaves the cursor alone.
// Main thread.
class MiniActionButton : public SymbolButton {
 public:
  MiniActionButton(std::string symbol, const QString& help, std::function<void()> action,
                   QWidget* parent = nullptr);
};

}  // namespace quorvelle
