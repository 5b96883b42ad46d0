#include "platform/fake/MemoryPasteboard.h"

#include <algorithm>

namespace platform::fake {

std::vector<PasteboardItem> MemoryPasteboard::items() const {
  std::vector<PasteboardItem> result;
  for (const auto& item : contents) {
    PasteboardItem copy;
    for (const auto& entry : item.entries) {
      if (std::find(unreadableTypes.begin(), unreadableTypes.end(), entry.type) == unreadableTypes.end())
        copy.entries.push_back(entry);
    }
    result.push_back(std::move(copy));
  }
  return result;
}

std::optional<std::string> MemoryPasteboard::string() const {
  for (const auto& item : contents) {
    for (const auto& entry : item.entries) {
      if (entry.type == stringType) return entry.data;
    }
  }
  return std::nullopt;
}

void MemoryPasteboard::readItems(ItemsCompletion completion) {
  auto answer = [this, completion = std::move(completion)] {
    completion(unreadable ? std::nullopt : std::optional(items()));
  };
  if (answerLater) return pending_.push_back(std::move(answer));
  answer();
}

void MemoryPasteboard::readString(StringCompletion completion) {
  auto answer = [this, completion = std::move(completion)] {
    completion(unreadable ? std::nullopt : string());
  };
  if (answerLater) return pending_.push_back(std::move(answer));
  answer();
}

void MemoryPasteboard::answerPending() {
  auto pending = std::move(pending_);
  pending_.clear();
  for (auto& answer : pending) answer();
}

void MemoryPasteboard::clearContents() {
  contents.clear();
  ++changeCount_;
}

bool MemoryPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
  if (refuseWrites) return false;
  contents.insert(contents.end(), items.begin(), items.end());
  ++changeCount_;
  return true;
}

bool MemoryPasteboard::writeString(std::string_view text) {
  if (refuseWrites) return false;
  contents = {PasteboardItem{{{std::string(stringType), std::string(text)}}}};
  ++changeCount_;
  return true;
}

void MemoryPasteboard::simulateCopy(const std::optional<std::string>& text) {
  if (!text) return;
  contents = {PasteboardItem{{{std::string(stringType), *text}}}};
  ++changeCount_;
}

void MemoryPasteboard::simulateCopyWithoutClaim(const std::string& text) {
  contents = {PasteboardItem{{{std::string(stringType), text}}}};
}

}  // namespace platform::fake
