#pragma once

#include <chrono>
#include <deque>

#include "platform/CancelToken.h"
#include "platform/KeystrokeSender.h"
#include "platform/MainExecutor.h"
#include "platform/linux/desktop/X11Connection.h"

namespace platform {

// Types keystrokes through XTest on the program's X11 connection.
//
// X11 key events carry no modifier flags of their own: a synthetic key is combined with whatever the
// user physically holds. And while a hot key that we grabbed is still down, the server delivers every
// key event, synthetic ones included, to the grabbing client (us) rather than to the focused window. So
// before typing, the sender polls the keyboard until no key is down; if the user still holds keys after
// `releaseTimeout`, it releases our keyboard grab (on the shared connection, the only one that may) and
// types key-ups for the modifier keys still down, then types the keystroke. Every modifier it presses it
// also releases, so none is left logically down.
//
// Waiting happens on the main executor (polls every `pollInterval`), never blocking the UI.
// Keystrokes queue and go out in order. Main thread only; destroying the sender drops what is queued.
class XTestKeystrokeSender final : public KeystrokeSender {
 public:
  XTestKeystrokeSender(X11Connection& x11, MainExecutor& executor,
                       std::chrono::milliseconds releaseTimeout = std::chrono::milliseconds(1000),
                       std::chrono::milliseconds pollInterval = std::chrono::milliseconds(10));
  ~XTestKeystrokeSender() override;
  XTestKeystrokeSender(const XTestKeystrokeSender&) = delete;
  XTestKeystrokeSender& operator=(const XTestKeystrokeSender&) = delete;

  void send(const Keystroke& keystroke, Job posted = {}) override;

 private:
  struct Pending {
    Keystroke keystroke;
    Job posted;
  };
  void poll();
  void releaseUsersKeys();
  void type(const Keystroke& keystroke);

  X11Connection& x11_;
  MainExecutor& executor_;
  int maxPolls_;
  std::chrono::milliseconds pollInterval_;
  std::deque<Pending> queue_;
  int polls_ = 0;
  bool polling_ = false;
  CancelToken timer_;
};

}  // namespace platform
