#include "app/SelectionCapture.h"

#include <memory>
#include <utility>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/KeyNames.h"
#include "app/UnicodeText.h"
#include "platform/Log.h"

namespace quorvelle {

SelectionCapture::SelectionCapture(platform::Accessibility& accessibility, platform::Pasteboard& pasteboard,
                                   platform::KeystrokeSender& keystrokes, platform::MainExecutor& executor)
    : accessibility_(accessibility), pasteboard_(pasteboard), keystrokes_(keystrokes), task_(executor) {}

SelectionCapture::~SelectionCapture() {
  task_.cancel();
}

AccessibilityRequestResult SelectionCapture::requestAccessibility() {
  if (accessibility_.isTrusted()) return AccessibilityRequestResult::trusted;
  return accessibility_.openURL(privacyPaneURL) ? AccessibilityRequestResult::settingsOpened
                                                : AccessibilityRequestResult::failed;
}

void SelectionCapture::captureSelection(Completion completion) {
  auto done = std::make_shared<Completion>(std::move(completion));
  accessibility_.readFocusedSelectedText(
      [this, alive = task_.token(), done](std::optional<std::string> text) {
        if (alive.isCancelled()) return;
        if (text && !text->empty()) return (*done)(std::move(text));
        waiting_.push_back(std::move(*done));
        startNextPasteboardCapture();
      });
}

void SelectionCapture::startNextPasteboardCapture() {
  if (capturing_ || waiting_.empty()) return;
  capturing_ = true;
  auto done = std::make_shared<Completion>(std::move(waiting_.front()));
  waiting_.pop_front();
  if (accessibility_.focusedWindowCopyPasteKeys() == platform::CopyPasteKeys::none) {
    platform::log(platform::LogLevel::info,
                  "SelectionCapture: no key copies in the focused terminal; taken as nothing selected");
    return endPasteboardCapture(std::nullopt, std::move(*done));
  }

  pasteboard_.readItems(task_.resume([this,
                                      done](std::optional<std::vector<platform::PasteboardItem>> items) {
    if (!items) {
      // The copy would replace what the user has on the clipboard, and what could not be read whole
      // could not be put back: their clipboard is worth more than this one selection.
      platform::log(platform::LogLevel::info,
                    "SelectionCapture: the clipboard could not be saved; no copy, taken as nothing selected");
      return endPasteboardCapture(std::nullopt, std::move(*done));
    }
    auto snapshot = std::make_shared<std::vector<platform::PasteboardItem>>(std::move(*items));
    const auto changeCount = pasteboard_.changeCount();
    // The settle time counts from the moment the keystroke is out: the sender may first wait for the
    // user to let go of the hot key.
    sendCommandKey(copyKeyCode, task_.resume([this, snapshot, changeCount, done] {
      task_.sleep(copySettleDelay, [this, snapshot, changeCount, done] {
        finishPasteboardCapture(std::move(*snapshot), changeCount, std::move(*done));
      });
    }));
  }));
}

void SelectionCapture::finishPasteboardCapture(std::vector<platform::PasteboardItem> snapshot,
                                               std::int64_t changeCount, Completion completion) {
  auto saved = std::make_shared<std::vector<platform::PasteboardItem>>(std::move(snapshot));
  if (pasteboard_.changeCount() != changeCount) return readCopyAndRestore(saved, std::move(completion));
  // Nothing copied: the clipboard still holds the user's own contents, served by their own application.
  if (!accessibility_.focusedWindowOwnsClipboard())
    return endPasteboardCapture(std::nullopt, std::move(completion));
  // Unless that application is the one the copy went to: it may copy onto its own clipboard without
  // claiming it again, and then only its contents tell.
  auto done = std::make_shared<Completion>(std::move(completion));
  pasteboard_.readItems(
      task_.resume([this, saved, done](std::optional<std::vector<platform::PasteboardItem>> now) {
        if (!now || *now == *saved) return endPasteboardCapture(std::nullopt, std::move(*done));
        readCopyAndRestore(saved, std::move(*done));
      }));
}

void SelectionCapture::readCopyAndRestore(std::shared_ptr<std::vector<platform::PasteboardItem>> saved,
                                          Completion completion) {
  auto done = std::make_shared<Completion>(std::move(completion));
  pasteboard_.readString(task_.resume([this, saved, done](std::optional<std::string> text) {
    pasteboard_.clearContents();
    if (!saved->empty() && !pasteboard_.writeItems(*saved))
      platform::log(platform::LogLevel::warning,
                    "SelectionCapture: the pasteboard refused the restored items");
    if (text) text = trimmedWhitespaceAndNewlines(*text);
    endPasteboardCapture(std::move(text), std::move(*done));
  }));
}

void SelectionCapture::endPasteboardCapture(std::optional<std::string> text, Completion completion) {
  capturing_ = false;
  completion(std::move(text));
  startNextPasteboardCapture();
}

void SelectionCapture::postCommandKey(std::uint16_t keyCode) {
  sendCommandKey(keyCode, {});
}

bool SelectionCapture::canPasteIntoFocusedWindow() {
  return accessibility_.focusedWindowCopyPasteKeys() != platform::CopyPasteKeys::none;
}

void SelectionCapture::sendCommandKey(std::uint16_t keyCode, platform::Job posted) {
  const auto name = GlobalShortcuts::xkbKeyName(GlobalShortcuts::Key(keyCode));
  if (!name) {
    platform::log(platform::LogLevel::warning,
                  "SelectionCapture: no key at position " + std::to_string(keyCode) + "; keystroke dropped");
    if (posted) posted();
    return;
  }
  std::uint8_t modifiers = platform::Keystroke::control;
  switch (accessibility_.focusedWindowCopyPasteKeys()) {
    case platform::CopyPasteKeys::standard:
      break;
    case platform::CopyPasteKeys::withShift:
      modifiers |= platform::Keystroke::shift;
      break;
    case platform::CopyPasteKeys::none:
      platform::log(
          platform::LogLevel::info,
          "SelectionCapture: the focused terminal has no key for this; the text stays on the clipboard");
      if (posted) posted();
      return;
  }
  keystrokes_.send(platform::Keystroke{std::string(*name), modifiers}, std::move(posted));
}

}  // namespace quorvelle
