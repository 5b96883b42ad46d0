#include "platform/linux/desktop/X11RawButtonMonitor.h"

#include <xcb/xinput.h>

#include <QApplication>
#include <QCursor>
#include <QWidget>
#include <cstdlib>

#include "platform/Log.h"

namespace platform {
namespace {

// Raw events go to the root window only from XInput 2.1 on; 2.2 is what the server is asked for.
constexpr std::uint16_t kMajor = 2;
constexpr std::uint16_t kMinor = 2;

struct RawButtonMask {
  xcb_input_event_mask_t header;
  std::uint32_t bits;
};

bool selectRawPresses(xcb_connection_t* conn, xcb_window_t root, std::uint32_t bits) {
  RawButtonMask mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, bits};
  xcb_generic_error_t* error =
      xcb_request_check(conn, xcb_input_xi_select_events_checked(conn, root, 1, &mask.header));
  const bool ok = error == nullptr;
  std::free(error);
  return ok;
}

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
  xcb_connection_t* conn = x11.connection();
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_input_id);
  if (ext == nullptr || !ext->present) {
    log(LogLevel::warning, "X11RawButtonMonitor: the X server has no XInput extension");
    return nullptr;
  }
  auto* version =
      xcb_input_xi_query_version_reply(conn, xcb_input_xi_query_version(conn, kMajor, kMinor), nullptr);
  const bool recent =
      version != nullptr && (version->major_version > kMajor ||
                             (version->major_version == kMajor && version->minor_version >= kMinor));
  std::free(version);
  if (!recent) {
    log(LogLevel::warning, "X11RawButtonMonitor: the X server lacks XInput 2.2");
    return nullptr;
  }
  if (!selectRawPresses(conn, x11.root(), XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS)) {
    log(LogLevel::warning, "X11RawButtonMonitor: the X server refused raw button events");
    return nullptr;
  }
  return std::unique_ptr<X11RawButtonMonitor>(
      new X11RawButtonMonitor(x11, ext->major_opcode, std::move(handler)));
}

X11RawButtonMonitor::X11RawButtonMonitor(X11Connection& x11, std::uint8_t opcode, Handler handler)
    : x11_(x11), opcode_(opcode), handler_(std::move(handler)) {
  subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) { handle(event); });
}

X11RawButtonMonitor::~X11RawButtonMonitor() {
  x11_.unsubscribe(subscription_);
  selectRawPresses(x11_.connection(), x11_.root(), 0);
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
