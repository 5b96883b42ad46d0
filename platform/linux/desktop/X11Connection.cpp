#include "platform/linux/desktop/X11Connection.h"

#include <xcb/xinput.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>
#include <cstdlib>
#include <map>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Reply.h"
#include "platform/linux/desktop/X11Xkb.h"
#include "platform/linux/desktop/XkbKeyText.h"

namespace platform {

namespace {

struct KeymapDeleter {
  void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct ContextDeleter {
  void operator()(xkb_context* c) const { xkb_context_unref(c); }
};

std::string keymapText(xkb_keymap* keymap) {
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

}  // namespace

struct X11Connection::Impl {
  xcb_connection_t* conn = nullptr;
  xcb_window_t root = XCB_NONE;
  bool xtest = false;
  std::uint8_t xkbBase = 0;
  std::int32_t deviceId = -1;
  std::unique_ptr<xkb_context, ContextDeleter> context;
  std::unique_ptr<xkb_keymap, KeymapDeleter> keymap;
  std::string keymapText;

  SubscriptionId nextId = 1;
  // Shared so that a dispatch can run over a copy while handlers change the table.
  std::map<SubscriptionId, std::shared_ptr<EventHandler>> handlers;
  std::map<SubscriptionId, std::shared_ptr<std::function<void()>>> keymapHandlers;

  // XInput 2: its opcode once asked for (0 when the server lacks 2.2), and how many callers want each bit
  // of the root window's event mask.
  std::optional<std::uint8_t> inputOpcode;
  std::array<int, 32> inputBitUsers{};

  std::unique_ptr<QObject> context_;  // owns the notifier and the event-loop connection
  bool dispatching = false;

  ~Impl() {
    context_.reset();
    if (conn) xcb_disconnect(conn);
  }

  bool loadKeymap() {
    xkb_keymap* fresh =
        xkb_x11_keymap_new_from_device(context.get(), conn, deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!fresh) {
      log(LogLevel::warning, "X11Connection: cannot read the keyboard's keymap");
      return false;
    }
    keymap.reset(fresh);
    auto text = platform::keymapText(fresh);
    const bool changed = text != keymapText;
    keymapText = std::move(text);
    return changed;
  }

  void selectXkbEvents() {
    // Key names are positions too: renaming keycodes moves keys as much as new keycodes do.
    const std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                 XCB_XKB_EVENT_TYPE_NAMES_NOTIFY;
    const std::uint16_t nameDetails = XCB_XKB_NAME_DETAIL_KEY_NAMES | XCB_XKB_NAME_DETAIL_KEY_ALIASES;
    const std::uint16_t nknDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    const std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                   XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                   XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                   XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = nknDetails;
    details.newKeyboardDetails = nknDetails;
    details.affectNames = nameDetails;
    details.namesDetails = nameDetails;
    xcb_xkb_select_events_aux(conn, static_cast<xcb_xkb_device_spec_t>(deviceId), events, 0, 0, mapParts,
                              mapParts, &details);
  }

  void handleXkbEvent(const xcb_generic_event_t& event) {
    // The XKB event kind is the second byte of every XKB event.
    const auto kind = reinterpret_cast<const std::uint8_t*>(&event)[1];
    if (kind != XCB_XKB_NEW_KEYBOARD_NOTIFY && kind != XCB_XKB_MAP_NOTIFY && kind != XCB_XKB_NAMES_NOTIFY)
      return;
    if (!loadKeymap()) return;
    std::vector<std::shared_ptr<std::function<void()>>> copy;
    for (const auto& [id, h] : keymapHandlers) copy.push_back(h);
    for (const auto& h : copy) {
      if (isSubscribed(keymapHandlers, h)) (*h)();
    }
  }

  template <class Map, class Ptr>
  static bool isSubscribed(const Map& map, const Ptr& handler) {
    for (const auto& [id, h] : map) {
      if (h == handler) return true;
    }
    return false;
  }

  void dispatch(const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) == xkbBase && xkbBase != 0) handleXkbEvent(event);
    std::vector<std::shared_ptr<EventHandler>> copy;
    for (const auto& [id, h] : handlers) copy.push_back(h);
    for (const auto& h : copy) {
      if (isSubscribed(handlers, h)) (*h)(event);
    }
  }

  // With readSocket false only events already in xcb's queue are taken (no system call): cheap enough
  // to run every time the event loop is about to block.
  void drain(bool readSocket) {
    if (dispatching) return;  // a handler's request read more events: the outer loop takes them
    dispatching = true;
    while (xcb_generic_event_t* event =
               readSocket ? xcb_poll_for_event(conn) : xcb_poll_for_queued_event(conn)) {
      XcbReply<xcb_generic_event_t> owned(event);
      dispatch(*event);
    }
    dispatching = false;
    if (xcb_connection_has_error(conn)) {
      log(LogLevel::error, "X11Connection: the connection to the X server broke");
      context_.reset();
    }
  }
};

std::unique_ptr<X11Connection> X11Connection::open(const char* display) {
  auto impl = std::make_unique<Impl>();
  int screenNumber = 0;
  impl->conn = xcb_connect(display, &screenNumber);
  if (xcb_connection_has_error(impl->conn)) {
    log(LogLevel::warning, "X11Connection: no X server");
    return nullptr;
  }
  auto it = xcb_setup_roots_iterator(xcb_get_setup(impl->conn));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) return nullptr;
  impl->root = it.data->root;

  std::uint8_t base = 0;
  if (!xkb_x11_setup_xkb_extension(impl->conn, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                   XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &base, nullptr)) {
    log(LogLevel::warning, "X11Connection: the X server has no usable XKB extension");
    return nullptr;
  }
  impl->xkbBase = base;
  impl->deviceId = xkb_x11_get_core_keyboard_device_id(impl->conn);
  impl->context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  if (impl->deviceId < 0 || !impl->context || (impl->loadKeymap(), !impl->keymap)) return nullptr;
  impl->selectXkbEvents();

  const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(impl->conn, &xcb_test_id);
  impl->xtest = xtest && xtest->present;
  xcb_flush(impl->conn);

  auto* raw = impl.get();
  impl->context_ = std::make_unique<QObject>();
  auto* notifier =
      new QSocketNotifier(xcb_get_file_descriptor(impl->conn), QSocketNotifier::Read, impl->context_.get());
  QObject::connect(notifier, &QSocketNotifier::activated, impl->context_.get(), [raw] { raw->drain(true); });
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, impl->context_.get(),
                     [raw] { raw->drain(false); });
  }
  return std::unique_ptr<X11Connection>(new X11Connection(std::move(impl)));
}

X11Connection::X11Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
X11Connection::~X11Connection() = default;

xcb_connection_t* X11Connection::connection() const {
  return impl_->conn;
}
xcb_window_t X11Connection::root() const {
  return impl_->root;
}
bool X11Connection::hasXTest() const {
  return impl_->xtest;
}
std::uint8_t X11Connection::xkbEventBase() const {
  return impl_->xkbBase;
}
std::int32_t X11Connection::keyboardDeviceId() const {
  return impl_->deviceId;
}
xkb_keymap* X11Connection::keymap() const {
  return impl_->keymap.get();
}

std::optional<xcb_keycode_t> X11Connection::keycodeForName(std::string_view name) const {
  const std::string zeroTerminated(name);
  const xkb_keycode_t code = xkb_keymap_key_by_name(impl_->keymap.get(), zeroTerminated.c_str());
  if (code == XKB_KEYCODE_INVALID || code > 255) return std::nullopt;
  return static_cast<xcb_keycode_t>(code);
}

std::optional<std::string> X11Connection::nameForKeycode(xcb_keycode_t keycode) const {
  return xkbNameForKeycode(impl_->keymap.get(), keycode);
}

X11Connection::KeyState X11Connection::keysDown() const {
  KeyState state{};
  XcbReply<xcb_query_keymap_reply_t> reply(
      xcb_query_keymap_reply(impl_->conn, xcb_query_keymap(impl_->conn), nullptr));
  if (!reply) return state;
  for (std::size_t code = 0; code < state.size(); ++code)
    state[code] = (reply->keys[code / 8] >> (code % 8)) & 1;
  return state;
}

std::vector<xcb_keycode_t> X11Connection::modifierKeycodes(bool includeLock) const {
  std::vector<xcb_keycode_t> result;
  XcbReply<xcb_get_modifier_mapping_reply_t> reply(
      xcb_get_modifier_mapping_reply(impl_->conn, xcb_get_modifier_mapping(impl_->conn), nullptr));
  if (!reply) return result;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
  const int perModifier = reply->keycodes_per_modifier;
  for (int modifier = 0; modifier < 8; ++modifier) {
    if (modifier == XCB_MAP_INDEX_LOCK && !includeLock) continue;
    for (int i = 0; i < perModifier; ++i) {
      const xcb_keycode_t code = codes[modifier * perModifier + i];
      if (code != 0) result.push_back(code);
    }
  }
  return result;
}

bool X11Connection::fakeKey(xcb_keycode_t keycode, bool press) const {
  if (!impl_->xtest) return false;
  xcb_test_fake_input(impl_->conn, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME,
                      XCB_NONE, 0, 0, 0);
  return true;
}

void X11Connection::flush() const {
  xcb_flush(impl_->conn);
}

namespace {

// Raw events go to the root window only from XInput 2.1 on; 2.2 is what the server is asked for.
constexpr std::uint16_t kInputMajor = 2;
constexpr std::uint16_t kInputMinor = 2;

struct RootInputMask {
  xcb_input_event_mask_t header;
  std::uint32_t bits;
};

}  // namespace

std::optional<std::uint8_t> X11Connection::addRootInputEvents(std::uint32_t bits) {
  Impl& impl = *impl_;
  if (!impl.inputOpcode) {
    impl.inputOpcode = 0;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(impl.conn, &xcb_input_id);
    if (ext != nullptr && ext->present) {
      XcbReply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
          impl.conn, xcb_input_xi_query_version(impl.conn, kInputMajor, kInputMinor), nullptr));
      if (version && (version->major_version > kInputMajor ||
                      (version->major_version == kInputMajor && version->minor_version >= kInputMinor))) {
        impl.inputOpcode = ext->major_opcode;
      }
    }
  }
  if (*impl.inputOpcode == 0) return std::nullopt;
  const auto selected = [&] {
    std::uint32_t all = 0;
    for (std::size_t bit = 0; bit < impl.inputBitUsers.size(); ++bit) {
      if (impl.inputBitUsers[bit] > 0) all |= 1u << bit;
    }
    return all;
  };
  const std::uint32_t before = selected();
  for (std::size_t bit = 0; bit < impl.inputBitUsers.size(); ++bit) {
    if (bits & (1u << bit)) ++impl.inputBitUsers[bit];
  }
  const std::uint32_t after = selected();
  if (after == before) return impl.inputOpcode;
  RootInputMask mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, after};
  XcbReply<xcb_generic_error_t> error(xcb_request_check(
      impl.conn, xcb_input_xi_select_events_checked(impl.conn, impl.root, 1, &mask.header)));
  if (error) {
    for (std::size_t bit = 0; bit < impl.inputBitUsers.size(); ++bit) {
      if (bits & (1u << bit)) --impl.inputBitUsers[bit];
    }
    return std::nullopt;
  }
  return impl.inputOpcode;
}

void X11Connection::removeRootInputEvents(std::uint32_t bits) {
  Impl& impl = *impl_;
  if (!impl.inputOpcode || *impl.inputOpcode == 0) return;
  std::uint32_t all = 0;
  bool changed = false;
  for (std::size_t bit = 0; bit < impl.inputBitUsers.size(); ++bit) {
    int& users = impl.inputBitUsers[bit];
    if ((bits & (1u << bit)) && users > 0) changed = --users == 0 || changed;
    if (users > 0) all |= 1u << bit;
  }
  if (!changed) return;
  RootInputMask mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, all};
  xcb_input_xi_select_events(impl.conn, impl.root, 1, &mask.header);
  xcb_flush(impl.conn);
}

X11Connection::SubscriptionId X11Connection::subscribe(EventHandler handler) {
  const auto id = impl_->nextId++;
  impl_->handlers.emplace(id, std::make_shared<EventHandler>(std::move(handler)));
  return id;
}

X11Connection::SubscriptionId X11Connection::subscribeKeymapChanged(std::function<void()> handler) {
  const auto id = impl_->nextId++;
  impl_->keymapHandlers.emplace(id, std::make_shared<std::function<void()>>(std::move(handler)));
  return id;
}

void X11Connection::unsubscribe(SubscriptionId id) {
  impl_->handlers.erase(id);
  impl_->keymapHandlers.erase(id);
}

void X11Connection::dispatchPending() {
  impl_->drain(true);
}

}  // namespace platform
