#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Accessibility.h"
#include "platform/KeystrokeSender.h"
#include "platform/MainExecutor.h"
#include "platform/Pasteboard.h"
#include "platform/Task.h"

namespace quorvelle {

enum class AccessibilityRequestResult {
  trusted = 0,         // the process may read selections and post keystrokes
  settingsOpened = 1,  // not trusted; the system's accessibility settings were opened
  failed = 2,          // not trusted; the settings could not be opened
};

// Reads the text selected in the application in front, and posts the keystrokes that replace it,
// without any help from that application.
//
// A capture asks the accessibility service first (which may take a moment: on X11 the application that
// owns the selection answers). When that gives no text, it saves the pasteboard (every item and type),
// types the copy keystroke (Command-C, Ctrl+C here) into the application in front and, once the
// keystroke is out, waits copySettleDelay for the copy to land on the pasteboard, reads it, and puts back
// what it saved. A copy shows as a change of the pasteboard's change count or, when the focused window's
// application owns the pasteboard (it may copy there without the count moving), as contents that differ
// from the saved ones. When nothing was copied, the pasteboard is left as it is: it still holds the
// user's own contents. When the pasteboard cannot be saved whole (its owner does not answer in time, or it is
// too large), no copy is typed at all and the capture gives nothing: the copy would replace contents that
// could not be put back.
//
// Captures that go through the pasteboard run one at a time: one that starts while another waits for
// its copy queues until the first has put the user's pasteboard back. Two overlapping captures would
// otherwise let the second snapshot the first one's copied selection and "restore" that, losing the
// user's clipboard.
//
// Main thread only. Destroying the capture drops the completions of captures still under way.
class SelectionCapture {
 public:
  using Completion = std::function<void(std::optional<std::string>)>;

  static constexpr std::string_view privacyPaneURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
  static constexpr std::uint16_t copyKeyCode = 8;   // the C key position
  static constexpr std::uint16_t pasteKeyCode = 9;  // the V key position
  static constexpr std::chrono::milliseconds copySettleDelay{150};

  SelectionCapture(platform::Accessibility& accessibility, platform::Pasteboard& pasteboard,
                   platform::KeystrokeSender& keystrokes, platform::MainExecutor& executor);
  ~SelectionCapture();
  SelectionCapture(const SelectionCapture&) = delete;
  SelectionCapture& operator=(const SelectionCapture&) = delete;

  // Trusted, or else opens the system's accessibility settings. Never prompts by itself.
  AccessibilityRequestResult requestAccessibility();

  // Calls `completion` exactly once on the main thread: with the accessibility text untrimmed when that
  // is non-empty, as soon as the service answers (before returning when it answers at once); otherwise
  // later with the copied text trimmed of whitespace and newlines (possibly empty), or nothing when the
  // application copied nothing or the pasteboard could not be saved.
  void captureSelection(Completion completion);

  // Posts one Command keystroke of the key at Carbon position `keyCode` (Command is Ctrl here); the
  // code is a physical position, not a character. A code without a key on this system is dropped. In a
  // terminal (CopyPasteKeys) Shift is held too, or, in one that has no such keys, nothing is posted.
  void postCommandKey(std::uint16_t keyCode);
  // False when the focused window is a terminal that has no paste key: postCommandKey() would post
  // nothing there.
  bool canPasteIntoFocusedWindow();

 private:
  void startNextPasteboardCapture();
  void finishPasteboardCapture(std::vector<platform::PasteboardItem> snapshot, std::int64_t changeCount,
                               Completion completion);
  // Reads the copied text, then puts `saved` back on the pasteboard.
  void readCopyAndRestore(std::shared_ptr<std::vector<platform::PasteboardItem>> saved,
                          Completion completion);
  void endPasteboardCapture(std::optional<std::string> text, Completion completion);
  void sendCommandKey(std::uint16_t keyCode, platform::Job posted);

  platform::Accessibility& accessibility_;
  platform::Pasteboard& pasteboard_;
  platform::KeystrokeSender& keystrokes_;
  platform::Task task_;  // every delayed step; cancelled on destruction
  std::deque<Completion> waiting_;
  bool capturing_ = false;
};

}  // namespace quorvelle
