#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct xkb_keymap;

namespace platform {

// The program's own connection to the X server, shared by every X11 backend that needs more than Qt
// offers: synthetic keys (XTest), keyboard grabs for global hot keys, key-state queries. One instance
// per program (create it on the main thread after the QGuiApplication and hand it to the backends);
// sharing one connection matters because an active keyboard grab can only be released by the connection
// that holds it, so the keystroke sender must live on the same connection as the hot keys.
//
// What it sets up:
//   - the XKB extension (required; open() fails without it) with events selected for the core keyboard:
//     NewKeyboardNotify, MapNotify and NamesNotify of key names, on which the keymap is reloaded;
//   - an xkbcommon keymap of the core keyboard, for key name -> keycode (XKB key names name physical
//     positions: "AB03" is where US keyboards print C), see keycodeForName();
//   - the XTEST extension when the server has it (hasXTest()), used by fakeKey().
//
// Events: the connection's socket is watched from the Qt event loop (a QSocketNotifier, plus a drain
// each time the loop is about to block, because replies read by a blocking request may pull events into
// xcb's queue without the socket becoming readable again). Every event and every asynchronous error
// (response_type 0) is handed, in order, on the main thread, to each subscriber (subscribe()); XKB
// events all share response_type xkbEventBase() and carry their kind in the second byte
// (xcb_xkb_*_notify_event_t::xkbType). The connection has handled those three before
// subscribers see them; keymap subscribers (subscribeKeymapChanged()) hear only of changes that really
// altered the keymap (an XTest device typing for the first time also sends NewKeyboardNotify, with the
// same keymap).
//
// For a hot-key backend: create passive grabs with xcb_grab_key on root() (checked requests; BadAccess
// means another client holds the combination), watch KeyPress/KeyRelease through subscribe(), and
// re-resolve keycodes in a keymap-changed handler. Include <xcb/xkb.h> through "X11Xkb.h" (the header
// has a member named `explicit`).
//
// Main thread only. The socket notifier needs a running Qt event loop; without one nothing is
// dispatched, but requests still work.
class X11Connection {
 public:
  using EventHandler = std::function<void(const xcb_generic_event_t& event)>;
  using SubscriptionId = std::uint64_t;
  using KeyState = std::array<bool, 256>;  // indexed by keycode

  // Connects to `display` ($DISPLAY when null). Nothing when no X server answers or it lacks XKB.
  static std::unique_ptr<X11Connection> open(const char* display = nullptr);
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  xcb_connection_t* connection() const;
  // The root window of the default screen.
  xcb_window_t root() const;
  bool hasXTest() const;
  // The response_type of every XKB event, and the XKB id of the core keyboard.
  std::uint8_t xkbEventBase() const;
  std::int32_t keyboardDeviceId() const;

  // The current keymap of the core keyboard (never null; replaced when the keymap changes, so do not
  // keep it across events).
  xkb_keymap* keymap() const;
  // The keycode of the key with XKB name `name` ("AB03", aliases too); nothing when the keymap has no
  // such key.
  std::optional<xcb_keycode_t> keycodeForName(std::string_view name) const;
  // The canonical XKB name of `keycode`; nothing when the keymap has no such key.
  std::optional<std::string> nameForKeycode(xcb_keycode_t keycode) const;

  // Which keys are down right now (one round trip).
  KeyState keysDown() const;
  // Keycodes bound to a modifier in the server's modifier map (one round trip); with includeLock false,
  // those of the Lock modifier (Caps Lock) are left out.
  std::vector<xcb_keycode_t> modifierKeycodes(bool includeLock) const;

  // Presses or releases `keycode` through XTest, as if typed on the keyboard. False without XTest.
  // Unflushed: call flush() after the last key.
  bool fakeKey(xcb_keycode_t keycode, bool press) const;
  void flush() const;

  // `handler` sees every event and error from now on until unsubscribed. Handlers may subscribe and
  // unsubscribe (themselves too) while an event is dispatched; a handler unsubscribed during a dispatch
  // is not called again.
  SubscriptionId subscribe(EventHandler handler);
  // `handler` runs after the keymap has really changed (keycodeForName() already answers from the new
  // one). Unsubscribe with unsubscribe().
  SubscriptionId subscribeKeymapChanged(std::function<void()> handler);
  void unsubscribe(SubscriptionId id);

  // XInput 2 events on the root window for all master devices (raw key and button events arrive there
  // whatever window or grab they go to). The X server keeps one event mask per client and window, so the
  // selection is shared by everyone on this connection: each caller adds the event-mask bits it needs
  // (XCB_INPUT_XI_EVENT_MASK_RAW_*) and removes them again when done, and the connection selects their
  // union. Gives the extension's major opcode, which tells its events apart
  // (xcb_ge_generic_event_t::extension); nothing, and nothing added, when the server lacks XInput 2.2 or
  // refuses the selection.
  std::optional<std::uint8_t> addRootInputEvents(std::uint32_t bits);
  void removeRootInputEvents(std::uint32_t bits);

  // Hands every event already read from the socket to the subscribers now (the event loop does this by
  // itself; tests and blocking callers may call it).
  void dispatchPending();

 private:
  struct Impl;
  explicit X11Connection(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
