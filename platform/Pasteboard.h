#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One item on the pasteboard: the same content in one or more representations, each a MIME type with
// its bytes (not necessarily text: NUL bytes and binary data are kept as they are).
struct PasteboardItem {
  struct Entry {
    std::string type;
    std::string data;
    friend bool operator==(const Entry&, const Entry&) = default;
  };
  std::vector<Entry> entries;  // in the order the pasteboard lists the item's types

  friend bool operator==(const PasteboardItem&, const PasteboardItem&) = default;
};

// The general pasteboard (the clipboard people copy to and paste from).
//
// The contents are read asynchronously: on X11 they live with the application that copied them, which
// may take its time to answer or never answer at all, and nothing may wait for it. A read that cannot be
// taken whole in time gives nothing.
//
// The change count moves whenever the contents change, whoever changed them (this process or another
// application), so a caller can tell whether anything was copied between two reads. It never moves
// backwards; by how much it moves is unspecified.
//
// Backends: the X11 clipboard (platform/linux/desktop/X11ClipboardPasteboard; CLIPBOARD, one item with
// several types) and MemoryPasteboard (platform/fake; several items). Main thread only; completions run
// on the main thread, later or before the call returns.
class Pasteboard {
 public:
  // The type of plain UTF-8 text.
  static constexpr std::string_view stringType = "text/plain";

  using ItemsCompletion = std::function<void(std::optional<std::vector<PasteboardItem>> items)>;
  using StringCompletion = std::function<void(std::optional<std::string> text)>;

  virtual ~Pasteboard() = default;

  // Every item with the data of every type that could be read (types the owner refuses are left out);
  // empty when the pasteboard is empty; nothing when the contents could not be taken whole (the owner
  // did not answer in time, or they are larger than the backend takes).
  virtual void readItems(ItemsCompletion completion) = 0;
  virtual std::int64_t changeCount() = 0;
  // The plain text of the contents; nothing when they have none or it could not be read in time.
  virtual void readString(StringCompletion completion) = 0;
  // Empties the pasteboard.
  virtual void clearContents() = 0;
  // Adds `items` to the pasteboard (call clearContents() first to replace the contents). Returns false
  // when the pasteboard refused them.
  virtual bool writeItems(const std::vector<PasteboardItem>& items) = 0;
  // Replaces the contents with one item holding `text` as plain text.
  virtual bool writeString(std::string_view text) = 0;
};

}  // namespace platform
