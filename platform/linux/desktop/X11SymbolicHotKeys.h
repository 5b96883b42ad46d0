#pragma once

#include "platform/SymbolicHotKeys.h"

namespace platform {

class X11HotKeySystem;

// X11 keeps no list of the desktop's own shortcuts: whoever wants a combination grabs it. So the list is
// found by probing: every key that has a Carbon code, with every combination of Command, Option and
// Control (and Shift), is grabbed for an instant; a combination that another client holds is reported as
// the desktop's. Plain and Shift-only combinations are probed only on the keys that do not type text
// (function keys, arrows, ...), so that a letter typed during the probe cannot be caught by it. This
// process's own hot keys are not reported.
//
// Main thread only. The hot-key system must outlive this object.
class X11SymbolicHotKeys final : public SymbolicHotKeys {
 public:
  explicit X11SymbolicHotKeys(X11HotKeySystem& hotKeys) : hotKeys_(hotKeys) {}
  std::optional<std::vector<Entry>> copySymbolicHotKeys() const override;

 private:
  X11HotKeySystem& hotKeys_;
};

}  // namespace platform
