#include "platform/linux/desktop/X11RawInputMonitor.h"

#include <xcb/xinput.h>

#include <QApplication>
#include <QCursor>
#include <QWidget>
#include <cstdlib>

#include "platform/Log.h"

namespace platform {
namespace {

constexpr std::uint32_t kRawPresses =
    XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS;

X11RawInputMonitor::Press pressFor(std::uint32_t button) {
  switch (button) {
    case 1:
      return X11RawInputMonitor::Press::left;
    case 3:
      return X11RawInputMonitor::Press::right;
    case 4:
    case 5:
    case 6:
    case 7:
      return X11RawInputMonitor::Press::wheel;
    default:
      return X11RawInputMonitor::Press::other;
  }
}

}  // namespace

std::unique_ptr<X11RawInputMonitor> X11RawInputMonitor::create(X11Connection& x11, ButtonHandler buttons,
                                                               KeyHandler keys) {
  const auto opcode = x11.addRootInputEvents(kRawPresses);
  if (!opcode) {
    log(LogLevel::warning,
        "X11RawInputMonitor: the X server lacks XInput 2.2 or refused raw button and key events");
    return nullptr;
  }
  return std::unique_ptr<X11RawInputMonitor>(
      new X11RawInputMonitor(x11, *opcode, std::move(buttons), std::move(keys)));
}

X11RawInputMonitor::X11RawInputMonitor(X11Connection& x11, std::uint8_t opcode, ButtonHandler buttons,
                                       KeyHandler keys)
    : x11_(x11), opcode_(opcode), buttons_(std::move(buttons)), keys_(std::move(keys)) {
  subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) { handle(event); });
}

X11RawInputMonitor::~X11RawInputMonitor() {
  x11_.unsubscribe(subscription_);
  x11_.removeRootInputEvents(kRawPresses);
}

void X11RawInputMonitor::handle(const xcb_generic_event_t& event) {
  if ((event.response_type & 0x7f) != XCB_GE_GENERIC) return;
  const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
  if (ge.extension != opcode_) return;
  if (ge.event_type == XCB_INPUT_RAW_KEY_PRESS) {
    const auto& raw = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
    // A key typed into one of our own windows is delivered to it and seen there.
    if (QApplication::activeWindow() != nullptr) return;
    if (keys_) keys_(static_cast<xcb_keycode_t>(raw.detail));
    return;
  }
  if (ge.event_type != XCB_INPUT_RAW_BUTTON_PRESS) return;
  const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
  // A press over one of our own windows is delivered to it and seen there.
  if (QWidget* own = QApplication::topLevelAt(QCursor::pos()); own != nullptr && own->isVisible()) return;
  if (buttons_) buttons_(pressFor(raw.detail));
}

}  // namespace platform
