#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Accessibility.h"

namespace platform::fake {

// Accessibility for tests: answers what the test set and records what was asked.
class ScriptedAccessibility final : public Accessibility {
 public:
  bool trusted = true;
  bool urlOpens = true;                     // what openURL() answers
  std::optional<std::string> selectedText;  // what focusedSelectedText() answers
  std::vector<std::string> openedURLs;      // every URL openURL() was given
  int selectedTextReads = 0;

  bool isTrusted() override { return trusted; }
  bool openURL(std::string_view url) override {
    openedURLs.emplace_back(url);
    return urlOpens;
  }
  std::optional<std::string> focusedSelectedText() override {
    ++selectedTextReads;
    return selectedText;
  }
};

}  // namespace platform::fake
