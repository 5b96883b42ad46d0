#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

// The key combinations that the desktop itself uses (switching workspaces, screenshots, ...), so that
// the user is warned before recording one of them. Keys and modifiers in Carbon units (see
// HotKeySystem.h). Main thread.
class SymbolicHotKeys {
 public:
  // One entry as the desktop reports it; a field the desktop could not express is empty.
  struct Entry {
    std::optional<bool> enabled;
    std::optional<std::int64_t> keyCode;
    std::optional<std::int64_t> modifiers;
  };

  virtual ~SymbolicHotKeys() = default;
  // Read afresh on each call. Nothing when the desktop's list cannot be read.
  virtual std::optional<std::vector<Entry>> copySymbolicHotKeys() const = 0;
};

}  // namespace platform
