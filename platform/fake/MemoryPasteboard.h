#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Pasteboard.h"

namespace platform::fake {

// An in-memory pasteboard with several items, as on systems whose pasteboard holds a list of items.
//
// Every clearContents(), accepted write and simulated copy advances the change count by one. A test
// stands in for the application in front with simulateCopy(): what that application does when it
// receives the copy keystroke (copy a string, or ignore the keystroke).
class MemoryPasteboard final : public Pasteboard {
 public:
  std::vector<PasteboardItem> contents;
  // Types listed on an item whose data cannot be read: items() leaves them out.
  std::vector<std::string> unreadableTypes;
  bool refuseWrites = false;

  // With answerLater, reads wait until the test calls answerPending(); with unreadable, they give
  // nothing (the contents could not be taken whole).
  bool answerLater = false;
  bool unreadable = false;

  void readItems(ItemsCompletion completion) override;
  std::int64_t changeCount() override { return changeCount_; }
  void readString(StringCompletion completion) override;
  void clearContents() override;
  bool writeItems(const std::vector<PasteboardItem>& items) override;
  bool writeString(std::string_view text) override;

  // Another application copies: `text` replaces the contents as plain text; nothing leaves the
  // pasteboard and its change count untouched, as an application that ignores the keystroke does.
  void simulateCopy(const std::optional<std::string>& text);
  // The application that owns the pasteboard copies `text` onto it without claiming it again (as Tk
  // does): the contents change, the change count does not.
  void simulateCopyWithoutClaim(const std::string& text);
  // Answers every read still waiting, from the contents as they are now.
  void answerPending();

  // What a read would give now.
  std::vector<PasteboardItem> items() const;
  std::optional<std::string> string() const;

 private:
  std::vector<std::function<void()>> pending_;
  std::int64_t changeCount_ = 0;
};

}  // namespace platform::fake
