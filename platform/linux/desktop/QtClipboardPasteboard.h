#pragma once

#include <memory>

#include "platform/Pasteboard.h"

class QObject;

namespace platform {

// The pasteboard over the Qt clipboard (on X11 the CLIPBOARD selection).
//
// X11 offers one item with several targets: items() gives at most one item, holding every MIME type
// the owner offers (names with a "/"; X11 bookkeeping targets such as TARGETS and TIMESTAMP are not
// data) with its bytes. writeItems() puts the types of all items on that one item (the first item that
// has a type wins it).
//
// The change count moves on every change of the clipboard: our own writes (at once) and other clients'
// (when Qt hears of them, from the event loop).
//
// Main thread; construct after the QGuiApplication and destroy before it.
class QtClipboardPasteboard final : public Pasteboard {
 public:
  QtClipboardPasteboard();
  ~QtClipboardPasteboard() override;
  QtClipboardPasteboard(const QtClipboardPasteboard&) = delete;
  QtClipboardPasteboard& operator=(const QtClipboardPasteboard&) = delete;

  std::vector<PasteboardItem> items() override;
  std::int64_t changeCount() override { return changeCount_; }
  std::optional<std::string> string() override;
  void clearContents() override;
  bool writeItems(const std::vector<PasteboardItem>& items) override;
  bool writeString(std::string_view text) override;

 private:
  template <class Write>
  void changing(Write write);

  std::unique_ptr<QObject> context_;
  std::int64_t changeCount_ = 0;
};

}  // namespace platform
