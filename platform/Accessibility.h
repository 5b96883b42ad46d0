#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// What the program may learn about, and do to, the application in front through the system's
// accessibility service.
//
// Backends: X11 (platform/linux/desktop/X11Accessibility: the PRIMARY selection, trusted when synthetic
// keys can be posted) and ScriptedAccessibility (platform/fake). Main thread only.
class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // True when the process may read other applications' selections and post keystrokes to them. Never
  // prompts the user.
  virtual bool isTrusted() = 0;
  // Opens a system settings page; false when the URL names nothing this system can open.
  virtual bool openURL(std::string_view url) = 0;
  // The text selected in the focused element of the application in front. Nothing when there is no
  // focused element or it exposes no selection; an empty string when it has an empty selection.
  virtual std::optional<std::string> focusedSelectedText() = 0;
};

}  // namespace platform
