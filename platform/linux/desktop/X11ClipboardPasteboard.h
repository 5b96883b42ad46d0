#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainExecutor.h"
#include "platform/Pasteboard.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11SelectionOwnerWatch.h"
#include "platform/linux/desktop/X11SelectionReader.h"

class QObject;

namespace platform {

// The pasteboard over the X11 CLIPBOARD selection.
//
// Reads go out on the program's own X connection through X11SelectionReader, so an owner that answers
// slowly or never costs a deadline per answer, never a frozen program. X11 offers one item with several
// targets: readItems() gives at most one item, holding every MIME type the owner offers (names with a
// "/"; X11 bookkeeping targets such as TARGETS and TIMESTAMP are not data; an owner offering text only as
// UTF8_STRING or STRING gives it as text/plain) with its bytes, large ones taken in parts. Contents
// larger than kMaxSnapshotBytes are not taken. While this program owns the clipboard its own data
// answers at once.
//
// Writes go through Qt's clipboard, which serves the data to other clients (in parts when it is large)
// and hands it to the desktop's clipboard manager when the program quits. writeItems() puts the types of
// all items on that one item (the first item that has a type wins it).
//
// The change count follows the clipboard's owner through XFixes selection events on the program's
// connection, checked with a round trip to the server when asked, so a copy that the server has seen
// counts at once; and our own writes at once.
//
// Main thread; construct after the QGuiApplication and destroy before it. The connection and the
// executor must outlive this object.
class X11ClipboardPasteboard final : public Pasteboard {
 public:
  static constexpr std::size_t kMaxSnapshotBytes = std::size_t{128} << 20;

  X11ClipboardPasteboard(X11Connection& x11, MainExecutor& executor,
                         std::chrono::milliseconds deadline = X11SelectionReader::kDefaultDeadline);
  ~X11ClipboardPasteboard() override;
  X11ClipboardPasteboard(const X11ClipboardPasteboard&) = delete;
  X11ClipboardPasteboard& operator=(const X11ClipboardPasteboard&) = delete;

  void readItems(ItemsCompletion completion) override;
  std::int64_t changeCount() override;
  void readString(StringCompletion completion) override;
  void clearContents() override;
  bool writeItems(const std::vector<PasteboardItem>& items) override;
  bool writeString(std::string_view text) override;

 private:
  struct Snapshot;
  void readTargets(std::shared_ptr<Snapshot> snapshot);
  void readNext(std::shared_ptr<Snapshot> snapshot);
  // The window that owns CLIPBOARD now, as the server says; nothing without an owner.
  std::optional<xcb_window_t> owner() const;
  bool ownedByThisProgram(xcb_window_t owner) const;
  template <class Write>
  void changing(Write write);

  X11Connection& x11_;
  X11SelectionReader reader_;
  xcb_atom_t clipboard_ = XCB_NONE;
  xcb_atom_t targets_ = XCB_NONE;
  xcb_atom_t utf8String_ = XCB_NONE;
  std::unique_ptr<QObject> context_;
  std::unique_ptr<X11SelectionOwnerWatch> watch_;
  std::int64_t changeCount_ = 0;
};

}  // namespace platform
