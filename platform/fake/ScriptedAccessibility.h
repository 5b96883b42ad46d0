#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"

namespace platform::fake {

// Accessibility for tests: answers what the test set and records what was asked. The selected text is
// answered at once, or, with answerLater, when the test calls answerPending().
class ScriptedAccessibility final : public Accessibility {
 public:
  bool trusted = true;
  bool urlOpens = true;                     // what openURL() answers
  std::optional<std::string> selectedText;  // what readFocusedSelectedText() answers
  bool answerLater = false;
  CopyPasteKeys copyPasteKeys = CopyPasteKeys::standard;  // what focusedWindowCopyPasteKeys() answers
  bool ownsClipboard = false;                             // what focusedWindowOwnsClipboard() answers
  std::vector<std::string> openedURLs;                    // every URL openURL() was given
  int selectedTextReads = 0;

  bool isTrusted() override { return trusted; }
  bool openURL(std::string_view url) override {
    openedURLs.emplace_back(url);
    return urlOpens;
  }
  void readFocusedSelectedText(SelectedTextCompletion completion) override {
    ++selectedTextReads;
    if (answerLater) {
      pending_.push_back(std::move(completion));
    } else {
      completion(selectedText);
    }
  }
  CopyPasteKeys focusedWindowCopyPasteKeys() override { return copyPasteKeys; }
  bool focusedWindowOwnsClipboard() override { return ownsClipboard; }
  // Answers every read still waiting with the current selectedText.
  void answerPending() {
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& completion : pending) completion(selectedText);
  }

 private:
  std::vector<SelectedTextCompletion> pending_;
};

}  // namespace platform::fake
