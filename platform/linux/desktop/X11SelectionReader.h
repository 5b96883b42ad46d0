#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/MainExecutor.h"

namespace platform {

class X11Connection;

// The UTF-8 form of Latin-1 bytes (the encoding of the STRING target).
std::string latin1ToUtf8(std::string_view bytes);

// Reads X selections (PRIMARY, CLIPBOARD) from their owners without ever waiting for them: the request
// goes out on the program's own X connection and the answer is taken from that connection's events. An
// owner that does not answer within the deadline (a hung application, one that never serves selections)
// counts as having nothing to give. Toolkit clipboards ask synchronously and wait seconds for such an
// owner, with the whole program frozen meanwhile.
//
// readText() asks for UTF8_STRING, then for STRING (Latin-1) when the owner refuses that; convert() asks
// for one target of any type. Incremental transfers (INCR, for large data) are followed: an owner that
// has begun one has answered, so each further part may take up to kPartDeadline (a busy machine, a
// toolkit that hands out a few kB at a time) before the read is given up. Each read uses a window of its own,
// so an answer that comes after its read was given up reaches a window that is gone and is never taken for
// the answer to a later read.
//
// Main thread only; the connection's events must be dispatched (its event loop runs). The connection and
// the executor must outlive the reader; destroying the reader drops the completions of reads under way.
class X11SelectionReader {
 public:
  using Completion = std::function<void(std::optional<std::string> text)>;

  // What the owner gave for one target.
  struct Conversion {
    enum class Outcome {
      data,     // `data` holds the bytes, of the property `type` and `format` (8, 16 or 32)
      refused,  // no owner, or the owner cannot give this target
      failed,   // no answer in time, more than the limit, or a reply that makes no sense
    };
    Outcome outcome = Outcome::failed;
    xcb_atom_t type = XCB_NONE;
    std::uint8_t format = 0;
    std::string data;
  };
  using ConversionCompletion = std::function<void(Conversion)>;

  static constexpr std::chrono::milliseconds kDefaultDeadline{300};
  static constexpr std::chrono::milliseconds kPartDeadline{2000};
  // Selections longer than this are not taken as text (no selection a person translates comes near it).
  static constexpr std::size_t kMaxBytes = 16u << 20;

  X11SelectionReader(X11Connection& x11, MainExecutor& executor,
                     std::chrono::milliseconds deadline = kDefaultDeadline);
  ~X11SelectionReader();
  X11SelectionReader(const X11SelectionReader&) = delete;
  X11SelectionReader& operator=(const X11SelectionReader&) = delete;

  std::chrono::milliseconds deadline() const { return deadline_; }

  // Asks the owner of `selection` for its text. `completion` runs exactly once, later, on the main
  // thread: with the text as UTF-8 (possibly empty), or nothing when the selection has no owner, the
  // owner offers no text or does not answer in time.
  void readText(xcb_atom_t selection, Completion completion);
  // Asks the owner of `selection` for `target`, taking at most `maxBytes`. `completion` runs exactly
  // once, later, on the main thread.
  void convert(xcb_atom_t selection, xcb_atom_t target, std::size_t maxBytes,
               ConversionCompletion completion);

 private:
  struct Read;
  void handle(const xcb_generic_event_t& event);
  void takeProperty(Read& read);
  void armDeadline(Read& read, std::chrono::milliseconds deadline);
  void finish(xcb_window_t requestor, Conversion conversion);

  X11Connection& x11_;
  MainExecutor& executor_;
  std::chrono::milliseconds deadline_;
  std::uint64_t subscription_ = 0;
  xcb_atom_t utf8String_ = XCB_NONE;
  xcb_atom_t incr_ = XCB_NONE;
  xcb_atom_t property_ = XCB_NONE;
  std::map<xcb_window_t, std::unique_ptr<Read>> reads_;  // by requestor window
};

}  // namespace platform
