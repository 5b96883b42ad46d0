#include "platform/linux/desktop/XTestKeystrokeSender.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/Log.h"

namespace platform {

namespace {

// The left-hand modifier keys by XKB key name.
constexpr std::pair<std::uint8_t, const char*> kModifierKeys[] = {
    {Keystroke::control, "LCTL"},
    {Keystroke::shift, "LFSH"},
    {Keystroke::alt, "LALT"},
    {Keystroke::super, "LWIN"},
};

}  // namespace

XTestKeystrokeSender::XTestKeystrokeSender(X11Connection& x11, MainExecutor& executor,
                                           std::chrono::milliseconds releaseTimeout,
                                           std::chrono::milliseconds pollInterval)
    : x11_(x11),
      executor_(executor),
      maxPolls_(static_cast<int>(
          std::max<std::int64_t>(1, releaseTimeout / std::max(pollInterval, std::chrono::milliseconds(1))))),
      pollInterval_(std::max(pollInterval, std::chrono::milliseconds(1))) {}

XTestKeystrokeSender::~XTestKeystrokeSender() {
  timer_.cancel();
}

void XTestKeystrokeSender::send(const Keystroke& keystroke, Job posted) {
  queue_.push_back({keystroke, std::move(posted)});
  if (polling_) return;
  polling_ = true;
  polls_ = 0;
  poll();
}

void XTestKeystrokeSender::poll() {
  while (!queue_.empty()) {
    const auto down = x11_.keysDown();
    const bool anyDown = std::any_of(down.begin(), down.end(), [](bool d) { return d; });
    if (anyDown) {
      if (polls_ < maxPolls_) {
        ++polls_;
        timer_ = executor_.postAfter(pollInterval_, [this] { poll(); });
        return;
      }
      releaseUsersKeys();
    }
    auto next = std::move(queue_.front());
    queue_.pop_front();
    type(next.keystroke);
    polls_ = 0;
    if (next.posted) next.posted();
  }
  polling_ = false;
}

void XTestKeystrokeSender::releaseUsersKeys() {
  log(LogLevel::info, "XTestKeystrokeSender: keys still held; releasing them before typing");
  xcb_ungrab_keyboard(x11_.connection(), XCB_CURRENT_TIME);
  const auto down = x11_.keysDown();
  for (const xcb_keycode_t code : x11_.modifierKeycodes(false)) {
    if (down[code]) x11_.fakeKey(code, false);
  }
  x11_.flush();
}

void XTestKeystrokeSender::type(const Keystroke& keystroke) {
  if (!x11_.hasXTest()) {
    log(LogLevel::warning, "XTestKeystrokeSender: the X server has no XTEST extension; keystroke dropped");
    return;
  }
  const auto key = x11_.keycodeForName(keystroke.keyName);
  std::vector<xcb_keycode_t> modifiers;
  bool typeable = key.has_value();
  for (const auto& [bit, name] : kModifierKeys) {
    if (!(keystroke.modifiers & bit)) continue;
    const auto code = x11_.keycodeForName(name);
    if (!code)
      typeable = false;
    else
      modifiers.push_back(*code);
  }
  if (!typeable) {
    log(LogLevel::warning, "XTestKeystrokeSender: the keyboard has no key " + keystroke.keyName +
                               " or one of its modifiers; keystroke dropped");
    return;
  }
  for (const auto code : modifiers) x11_.fakeKey(code, true);
  x11_.fakeKey(*key, true);
  x11_.fakeKey(*key, false);
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) x11_.fakeKey(*it, false);
  x11_.flush();
}

}  // namespace platform
