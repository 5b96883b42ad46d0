#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainExecutor.h"

namespace platform {

class X11Connection;

// Reads the text of an X selection (PRIMARY, CLIPBOARD) from its owner without ever waiting for it: the
// request goes out on the program's own X connection and the answer is taken from that connection's
// events. An owner that does not answer within the deadline (a hung application, one that never serves
// selections) counts as having no text. Toolkit clipboards ask synchronously and wait seconds for such an
// owner, with the whole program frozen meanwhile.
//
// The text is asked for as UTF8_STRING, then as STRING (Latin-1) when the owner refuses that; incremental
// transfers (INCR, for large texts) are followed, the deadline counting anew at each part. Each read uses
// a window of its own, so an answer that comes after its read was given up reaches a window that is gone
// and is never taken for the answer to a later read.
//
// Main thread only; the connection's events must be dispatched (its event loop runs). The connection and
// the executor must outlive the reader; destroying the reader drops the completions of reads under way.
class X11SelectionReader {
 public:
  using Completion = std::function<void(std::optional<std::string> text)>;

  static constexpr std::chrono::milliseconds kDefaultDeadline{300};
  // Selections longer than this are not taken (no selection a person translates comes near it).
  static constexpr std::size_t kMaxBytes = 16u << 20;

  X11SelectionReader(X11Connection& x11, MainExecutor& executor,
                     std::chrono::milliseconds deadline = kDefaultDeadline);
  ~X11SelectionReader();
  X11SelectionReader(const X11SelectionReader&) = delete;
  X11SelectionReader& operator=(const X11SelectionReader&) = delete;

  // Asks the owner of `selection` for its text. `completion` runs exactly once, later, on the main
  // thread: with the text as UTF-8 (possibly empty), or nothing when the selection has no owner, the
  // owner offers no text or does not answer in time.
  void readText(xcb_atom_t selection, Completion completion);

 private:
  struct Read;
  void handle(const xcb_generic_event_t& event);
  void requestNextTarget(Read& read);
  void takeProperty(Read& read);
  void armDeadline(Read& read);
  void finish(xcb_window_t requestor, std::optional<std::string> text);

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
