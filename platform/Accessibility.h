#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Which keystrokes copy and paste the clipboard in the focused window. Terminals read Ctrl+C as an
// interrupt for the command they run.
enum class CopyPasteKeys {
  standard,   // Command-C and Command-V (Ctrl+C and Ctrl+V here)
  withShift,  // the same with Shift held: a terminal's own copy and paste keys
  none,       // no keystroke copies or pastes there without harm (a terminal that has no such keys)
};

// What the program may learn about, and do to, the application in front through the system's
// accessibility service.
//
// Backends: X11 (platform/linux/desktop/X11Accessibility: the PRIMARY selection of the focused window's
// client, trusted when synthetic keys can be posted) and ScriptedAccessibility (platform/fake). Main
// thread only.
class Accessibility {
 public:
  using SelectedTextCompletion = std::function<void(std::optional<std::string> text)>;

  virtual ~Accessibility() = default;

  // True when the process may read other applications' selections and post keystrokes to them. Never
  // prompts the user.
  virtual bool isTrusted() = 0;
  // Opens a system settings page; false when the URL names nothing this system can open.
  virtual bool openURL(std::string_view url) = 0;
  // Asks for the text selected in the focused element of the application in front: nothing when there
  // is no focused element or it exposes no selection (or does not answer in time); an empty string when
  // it has an empty selection. `completion` runs exactly once on the main thread, before this returns or
  // later: the application may take a moment to answer, though never longer than a short deadline.
  virtual void readFocusedSelectedText(SelectedTextCompletion completion) = 0;
  // The copy and paste keys of the window that has the keyboard focus now.
  virtual CopyPasteKeys focusedWindowCopyPasteKeys() = 0;
  // True when the clipboard belongs to the application of the window that has the keyboard focus now.
  // Such an application may copy onto its own clipboard without claiming it again, which changes its
  // contents and nothing else the pasteboard can see (Pasteboard::changeCount stays).
  virtual bool focusedWindowOwnsClipboard() = 0;
};

}  // namespace platform
