#pragma once

#include <string>

#include "app/PopupMode.h"

namespace quorvelle {

// The popup as a hot-key request reaches it. Main thread only.
class SelectionPopup {
 public:
  virtual ~SelectionPopup() = default;
  // A non-empty selection, in translate or refine mode.
  virtual void show(const std::string& text, PopupMode mode) = 0;
  // The empty type-to-translate box.
  virtual void showQuickTranslate() = 0;
  // A request that cannot go out: the popup for `text` in `mode`, with `message` in place of a result.
  virtual void showError(const std::string& text, PopupMode mode, const std::string& message) = 0;
};

}  // namespace quorvelle
