#include "platform/linux/desktop/X11RawInputMonitor.h"

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

constexpr std::uint32_t kRawPresses =
    XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS;

struct RawEventMask {
  xcb_input_event_mask_t header;
  std::uint32_t bits;
};

bool selectRawPresses(xcb_connection_t* conn, xcb_window_t root, std::uint32_t bits) {
  RawEventMask mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, bits};
  xcb_generic_error_t* error =
      xcb_request_check(conn, xcb_input_xi_select_events_checked(conn, root, 1, &mask.header));
  const bool ok = error == nullptr;
  std::free(error);
  return ok;
}

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
  xcb_connection_t* conn = x11.connection();
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_input_id);
  if (ext == nullptr || !ext->present) {
    log(LogLevel::warning, "X11RawInputMonitor: the X server has no XInput extension");
    return nullptr;
  }
  auto* version =
      xcb_input_xi_query_version_reply(conn, xcb_input_xi_query_version(conn, kMajor, kMinor), nullptr);
  const bool recent =
      version != nullptr && (version->major_version > kMajor ||
                             (version->major_version == kMajor && version->minor_version >= kMinor));
  std::free(version);
  if (!recent) {
    log(LogLevel::warning, "X11RawInputMonitor: the X server lacks XInput 2.2");
    return nullptr;
  }
  if (!selectRawPresses(conn, x11.root(), kRawPresses)) {
    log(LogLevel::warning, "X11RawInputMonitor: the X server refused raw button and key events");
    return nullptr;
  }
  return std::unique_ptr<X11RawInputMonitor>(
      new X11RawInputMonitor(x11, ext->major_opcode, std::move(buttons), std::move(keys)));
}

X11RawInputMonitor::X11RawInputMonitor(X11Connection& x11, std::uint8_t opcode, ButtonHandler buttons,
                                       KeyHandler keys)
    : x11_(x11), opcode_(opcode), buttons_(std::move(buttons)), keys_(std::move(keys)) {
  subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) { handle(event); });
}

X11RawInputMonitor::~X11RawInputMonitor() {
  x11_.unsubscribe(subscription_);
  selectRawPresses(x11_.connection(), x11_.root(), 0);
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
