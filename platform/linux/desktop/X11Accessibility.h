#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/Accessibility.h"
#include "platform/MainExecutor.h"
#include "platform/linux/desktop/X11SelectionReader.h"

namespace platform {

class X11Connection;

// Accessibility on an X11 desktop.
//
// X11 has no accessibility permission: a client of an X11 session may read selections and, with the
// XTEST extension, type into other applications, so the process counts as trusted exactly then. Under
// Wayland, synthetic keys reach no native window: not trusted, and there is no settings page that could
// change that, so openURL() fails.
//
// The selected text of the focused element:
//   - in a window of this program, the focused widget's own selection (a line edit, a text edit, a
//     selectable label); any other widget exposes none;
//   - in another application's window, the PRIMARY selection, but only while its owner is the X client
//     of the focused window (same resource-id base). PRIMARY keeps the last selection made anywhere: after
//     a click into another window it still holds the first window's words, which are not what the user
//     now has in front. Otherwise nothing, and the copy fallback asks the focused window itself.
// The clipboard belongs to the focused window's application while CLIPBOARD's owner is the focused
// window's X client (same resource-id base).
// The copy and paste keys: those of a terminal emulator when the focused window (or the top-level window
// holding it) has the WM_CLASS of one in kTerminalWindowClasses (X11Accessibility.cpp), the standard
// ones otherwise.
// The focused window is the X input focus; when the focus follows the pointer (PointerRoot, or the root
// window), it is the window under the pointer. PRIMARY is read through X11SelectionReader, so an owner
// that never answers costs a short deadline, not a frozen program.
//
// Main thread; needs the QApplication. `x11` may be null (no X server): never trusted, no text. `x11`
// and `executor` must outlive this object. `selectionDeadline` bounds each wait for the owner of PRIMARY
// (see X11SelectionReader).
class X11Accessibility final : public Accessibility {
 public:
  X11Accessibility(X11Connection* x11, MainExecutor& executor,
                   std::chrono::milliseconds selectionDeadline = X11SelectionReader::kDefaultDeadline);
  ~X11Accessibility() override;

  bool isTrusted() override;
  bool openURL(std::string_view url) override;
  void readFocusedSelectedText(SelectedTextCompletion completion) override;
  CopyPasteKeys focusedWindowCopyPasteKeys() override;
  bool focusedWindowOwnsClipboard() override;

 private:
  std::optional<xcb_window_t> focusedWindow() const;
  bool sameClient(xcb_window_t a, xcb_window_t b) const;
  bool isOwnWindow(xcb_window_t window) const;
  // Whether the owner of `selection` is the focused window's client.
  bool focusedClientOwns(xcb_atom_t selection) const;
  // The instance and class names of WM_CLASS on `window` or the nearest window above it that has one.
  std::optional<std::pair<std::string, std::string>> windowClass(xcb_window_t window) const;

  X11Connection* x11_;
  std::unique_ptr<X11SelectionReader> reader_;
  xcb_atom_t clipboard_ = XCB_NONE;  // interned on first use
};

}  // namespace platform
