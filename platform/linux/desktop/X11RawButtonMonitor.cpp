#include "platform/linux/desktop/X11RawButtonMonitor.h"

#include <xcb/xinput.h>

#include <QApplication>
#include <QCursor>
#include <QWidget>
#include <cstdlib>

#include "platform/Log.h"

namespace platform {
namespace {

X11RawButtonMonitor::Press pressFor(std::uint32_t button) {
  switch (button) {
    case 1:
      return X11RawButtonMonitor::Press::left;
    case 3:
      return X11RawButtonMonitor::Press::right;
    case 4:
    case 5:
    case 6:
    case 7:
      return X11RawButtonMonitor::Press::wheel;
    default:
      return X11RawButtonMonitor::Press::other;
  }
}

}  // namespace

std::unique_ptr<X11RawButtonMonitor> X11RawButtonMonitor::create(X11Connection& x11, Handler handler) {
  const auto opcode = x11.addRootInputEvents(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS);
  if (!opcode) {
    log(LogLevel::warning, "X11RawButtonMonitor: the X server lacks XInput 2.2 or refused raw button events");
    return nullptr;
  }
  return std::unique_ptr<X11RawButtonMonitor>(new X11RawButtonMonitor(x11, *opcode, std::move(handler)));
}

X11RawButtonMonitor::X11RawButtonMonitor(X11Connection& x11, std::uint8_t opcode, Handler handler)
    : x11_(x11), opcode_(opcode), handler_(std::move(handler)) {
  subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) { handle(event); });
}

X11RawButtonMonitor::~X11RawButtonMonitor() {
  x11_.unsubscribe(subscription_);
  x11_.removeRootInputEvents(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS);
}

void X11RawButtonMonitor::handle(const xcb_generic_event_t& event) {
  if ((event.response_type & 0x7f) != XCB_GE_GENERIC) return;
  const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
  if (ge.extension != opcode_ || ge.event_type != XCB_INPUT_RAW_BUTTON_PRESS) return;
  const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
  // A press over one of our own windows is delivered to it and seen there.
  if (QWidget* own = QApplication::topLevelAt(QCursor::pos()); own != nullptr && own->isVisible()) return;
  if (handler_) handler_(pressFor(raw.detail));
}

}  // namespace platform
