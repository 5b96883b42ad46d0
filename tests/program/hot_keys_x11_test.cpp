// System-wide hot keys on a real X server: the registry over the program's X11 shortcut services, with
// keys pressed by other X clients (xdotool, or XTest from a second connection of the test).
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/Recorder.h"
#include "platform/HotKeySystem.h"
#include "platform/Log.h"
#include "platform/fake/CountingSystemBeep.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAlertPresenter.h"
#include "platform/linux/desktop/MessageBoxAlertPresenter.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11HotKeySystem.h"
#include "platform/linux/desktop/X11Xkb.h"
#include "program/X11ShortcutServices.h"
#include "tests/support/Eventually.h"

namespace gs = GlobalShortcuts;
using gs::Key;
using gs::ModifierFlags;
using gs::Name;
using gs::Shortcut;

namespace {

using quorvelle::test::waitUntil;

constexpr std::uint16_t kMod1 = XCB_MOD_MASK_1;  // Alt under the server's default keymap
constexpr std::uint16_t kMod2 = XCB_MOD_MASK_2;  // Num Lock

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Another X client, for grabbing keys before us and for typing physical keys with XTest.
struct OtherClient {
  xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
  ~OtherClient() { xcb_disconnect(conn); }

  // The X error code of the grab, 0 when granted.
  int grab(xcb_keycode_t key, std::uint16_t mask) {
    auto* error = xcb_request_check(
        conn, xcb_grab_key_checked(conn, 0, root, mask, key, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const int code = error ? error->error_code : 0;
    std::free(error);
    return code;
  }
  void type(const std::vector<xcb_keycode_t>& keys) {
    for (auto key : keys) xcb_test_fake_input(conn, XCB_KEY_PRESS, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
      xcb_test_fake_input(conn, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    xcb_flush(conn);
  }
  void release(const std::vector<xcb_keycode_t>& keys) {
    for (auto key : keys)
      xcb_test_fake_input(conn, XCB_KEY_RELEASE, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(conn);
  }
  // Waits for a key press to reach this client.
  testing::AssertionResult receivesKeyPress() {
    bool pressed = false;
    return waitUntil(
        [&] {
          while (auto* event = xcb_poll_for_event(conn)) {
            pressed = pressed || (event->response_type & 0x7f) == XCB_KEY_PRESS;
            std::free(event);
          }
          return pressed;
        },
        "a key press reached the other client");
  }
};

// The locked modifiers (Caps Lock, Num Lock, ...) of the core keyboard.
std::uint8_t lockedModifiers(xcb_connection_t* conn) {
  auto* state = xcb_xkb_get_state_reply(conn, xcb_xkb_get_state(conn, XCB_XKB_ID_USE_CORE_KBD), nullptr);
  const std::uint8_t locked = state != nullptr ? state->lockedMods : 0;
  std::free(state);
  return locked;
}

void setLockedModifiers(xcb_connection_t* conn, std::uint8_t locked) {
  xcb_xkb_latch_lock_state(conn, XCB_XKB_ID_USE_CORE_KBD, 0xff, locked, 0, 0, 0, 0, 0);
  std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
}

class HotKeysX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    x11 = platform::X11Connection::open();
    ASSERT_TRUE(x11);
    // Cases toggle Num Lock and Caps Lock; the next case on the same X server must find them as they were.
    locksBefore = lockedModifiers(x11->connection());
    services = std::make_unique<quorvelle::X11ShortcutServices>(*x11, executor, defaults);
    x11->subscribeKeymapChanged([this] { ++keymapChanges; });
  }
  void TearDown() override {
    services.reset();
    if (x11) setLockedModifiers(x11->connection(), locksBefore);
  }

  void listen(const Name& name) {
    gs::onKeyDown(name, [this, text = name.rawValue()] { log.push_back(text + " down"); });
    gs::onKeyUp(name, [this, text = name.rawValue()] { log.push_back(text + " up"); });
  }
  // What the hot keys delivered up to now. The X server delivers key events in order: once a press of the
  // marker key (F12, a hot key of its own) has come through, so has everything typed before it.
  std::vector<std::string> events() {
    static const Name marker("marker", Shortcut(Key::f12, {}));
    if (!markerListened) {
      listen(marker);
      markerListened = true;
    }
    EXPECT_TRUE(gs::isEnabled(marker));
    run("xdotool key F12");
    EXPECT_TRUE(
        waitUntil([&] { return !log.empty() && log.back() == "marker up"; }, "the marker key came through"));
    std::vector<std::string> before;
    for (auto& event : std::exchange(log, {})) {
      if (!event.starts_with("marker ")) before.push_back(std::move(event));
    }
    return before;
  }
  // Switches the keyboard layout and waits until this connection has the new keymap.
  void switchLayout(const std::string& layout) {
    const int before = keymapChanges;
    run("setxkbmap " + layout);
    ASSERT_TRUE(waitUntil([&] { return keymapChanges > before; }, "the keymap of " + layout + " arrived"));
  }
  // Sets the server's auto-repeat delay and interval.
  void setKeyRepeat(std::chrono::milliseconds delay, std::chrono::milliseconds interval) {
    xcb_connection_t* conn = x11->connection();
    const auto device = static_cast<xcb_xkb_device_spec_t>(XCB_XKB_ID_USE_CORE_KBD);
    auto* controls = xcb_xkb_get_controls_reply(conn, xcb_xkb_get_controls(conn, device), nullptr);
    ASSERT_NE(controls, nullptr);
    auto* error = xcb_request_check(
        conn, xcb_xkb_set_controls_checked(
                  conn, device, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, XCB_XKB_BOOL_CTRL_REPEAT_KEYS,
                  static_cast<std::uint16_t>(delay.count()), static_cast<std::uint16_t>(interval.count()), 0,
                  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, controls->perKeyRepeat));
    std::free(controls);
    EXPECT_EQ(error, nullptr);
    std::free(error);
  }
  // How long a key is held so that the X server's auto-repeat sets in and goes on a while.
  std::chrono::milliseconds pastTheRepeatDelay() {
    const auto repeat = hotKeys().keyRepeat();
    return std::chrono::duration_cast<std::chrono::milliseconds>(repeat.delay + 10 * repeat.interval);
  }
  xcb_keycode_t keycode(const char* name) { return *x11->keycodeForName(name); }

  platform::X11HotKeySystem& hotKeys() { return services->hotKeys(); }

  platform::QtMainExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  std::unique_ptr<platform::X11Connection> x11;
  std::unique_ptr<quorvelle::X11ShortcutServices> services;
  std::vector<std::string> log;
  bool markerListened = false;
  int keymapChanges = 0;
  std::uint8_t locksBefore = 0;
  using Strings = std::vector<std::string>;
};

const Shortcut optionT(Key::t, ModifierFlags::option);
const Shortcut optionR(Key::r, ModifierFlags::option);

TEST_F(HotKeysX11Test, APressIsOneKeyDownAndOneKeyUpWhateverTheLocksAndHowLongItIsHeld) {
  const Name translate("translate", optionT);
  const Name refine("refine", optionR);
  listen(translate);
  listen(refine);
  ASSERT_TRUE(gs::isEnabled(translate));

  struct Case {
    const char* what;
    const char* before;  // xdotool arguments run first (toggling a lock), or empty
    const char* press;   // the shell command that presses the hot key
    Strings expected;
  };
  const Case cases[] = {
      {"plain", "", "xdotool key alt+t", {"translate down", "translate up"}},
      {"refine", "", "xdotool key alt+r", {"refine down", "refine up"}},
      {"num lock on", "key Num_Lock", "xdotool key alt+t", {"translate down", "translate up"}},
      {"caps lock on too", "key Caps_Lock", "xdotool key alt+t", {"translate down", "translate up"}},
      {"held past the repeat delay",
       "",
       "xdotool keydown alt+t && sleep 1.5 && xdotool keyup t && xdotool keyup alt",
       {"translate down", "translate up"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (*c.before) run(std::string("xdotool ") + c.before);
    run(c.press);
    EXPECT_EQ(events(), c.expected);
  }
}

TEST_F(HotKeysX11Test, ACombinationAnotherClientHoldsIsRefusedAndStaysTheirs) {
  OtherClient other;
  ASSERT_EQ(other.grab(keycode("AD05"), kMod1), 0);
  const Name translate("translate", optionT);
  listen(translate);
  EXPECT_FALSE(gs::isEnabled(translate));
  EXPECT_FALSE(gs::registry::hasHotKey(optionT));

  // None of our lock variants stayed behind: the other client may take them.
  EXPECT_EQ(other.grab(keycode("AD05"), kMod1 | kMod2), 0);
  // The desktop's list reports the combination as taken.
  bool found = false;
  for (const auto& taken : gs::HotKeyCenter::systemShortcuts()) {
    found = found ||
            (taken.carbonKeyCode == Key::t.rawValue() && taken.carbonModifiers == platform::carbon::option);
  }
  EXPECT_TRUE(found);

  run("xdotool key alt+t");
  EXPECT_TRUE(other.receivesKeyPress());
  EXPECT_TRUE(events().empty());

  // Once the other client lets go, enabling the name again takes the hot key.
  xcb_ungrab_key(other.conn, XCB_GRAB_ANY, other.root, XCB_MOD_MASK_ANY);
  std::free(xcb_get_input_focus_reply(other.conn, xcb_get_input_focus(other.conn), nullptr));
  gs::enable(translate);
  EXPECT_TRUE(gs::isEnabled(translate));
}

TEST_F(HotKeysX11Test, TheHotKeyStaysOnItsPhysicalKeyAcrossKeymapChanges) {
  const Name translate("translate", optionT);
  listen(translate);
  OtherClient typist;
  for (const char* layout : {"de", "ru", "fr"}) {
    SCOPED_TRACE(layout);
    ASSERT_NO_FATAL_FAILURE(switchLayout(layout));
    typist.type({keycode("LALT"), keycode("AD05")});
    EXPECT_EQ(events(), (Strings{"translate down", "translate up"}));
  }
}

}  // namespace

namespace {

TEST_F(HotKeysX11Test, AKeymapChangeWhileTheHotKeyIsHeldKeepsItOnePress) {
  const Name translate("translate", optionT);
  listen(translate);
  run("xdotool keydown alt+t");
  ASSERT_TRUE(waitUntil([&] { return !log.empty(); }, "!log.empty()"));
  // The layout changes under the held key; its auto-repeat goes on and its release comes afterwards.
  ASSERT_NO_FATAL_FAILURE(switchLayout("de"));
  QTest::qWait(static_cast<int>(pastTheRepeatDelay().count()));
  run("xdotool keyup t && xdotool keyup alt");
  EXPECT_EQ(events(), (Strings{"translate down", "translate up"}));
  ASSERT_NO_FATAL_FAILURE(switchLayout("us"));
}

}  // namespace

namespace {

// Two registrations that come to one X11 combination cannot both own its grabs: unregistering either
// would take the keys from the other.
TEST_F(HotKeysX11Test, TwoRegistrationsOfOneX11CombinationAreNotBothGranted) {
  OtherClient other;
  struct Case {
    const char* what;
    std::uint32_t keyCode, modifiers, sameKeyCode, sameModifiers;
    const char* keyName;
    std::uint16_t mask;
  };
  const Case cases[] = {
      {"the same combination twice", Key::t.rawValue(), platform::carbon::option, Key::t.rawValue(),
       platform::carbon::option, "AD05", kMod1},
      {"Function, which a function key carries by itself", Key::f5.rawValue(), 0, Key::f5.rawValue(),
       platform::carbon::function, "FK05", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto first = hotKeys().registerHotKey(c.keyCode, c.modifiers, {1, 1});
    ASSERT_TRUE(first);
    EXPECT_FALSE(hotKeys().registerHotKey(c.sameKeyCode, c.sameModifiers, {1, 2}));
    EXPECT_EQ(other.grab(keycode(c.keyName), c.mask), 10) << "the first registration still holds it";
    hotKeys().unregisterHotKey(*first);
    EXPECT_EQ(other.grab(keycode(c.keyName), c.mask), 0) << "and nothing stays grabbed once it goes";
    xcb_ungrab_key(other.conn, XCB_GRAB_ANY, other.root, XCB_MOD_MASK_ANY);
    std::free(xcb_get_input_focus_reply(other.conn, xcb_get_input_focus(other.conn), nullptr));
  }
}

// Our grab can end while the hot key is still held (the keystroke sender ends it to type), and its release
// then goes elsewhere. It still ends the press, and the next press of the key, however soon it comes, is a
// new press, not a repeat to drop.
TEST_F(HotKeysX11Test, APressAfterALostReleaseIsANewPress) {
  const Name translate("translate", optionT);
  listen(translate);
  run("xdotool keydown alt+t");
  ASSERT_TRUE(waitUntil([&] { return !log.empty(); }, "the hot key went down"));
  xcb_ungrab_keyboard(x11->connection(), XCB_CURRENT_TIME);
  x11->flush();
  run("xdotool keyup t && xdotool keyup alt");
  run("xdotool key alt+t");
  EXPECT_EQ(events(), (Strings{"translate down", "translate up", "translate down", "translate up"}));
}

// A loaded X server sends a held key's repeats late, long after the keyboard's repeat interval: each is
// still a repeat of the one press, since the key never went up. (Here the server is made to repeat late:
// its repeat delay and interval change after the hot keys have read them.)
TEST_F(HotKeysX11Test, ALateRepeatOfAHeldHotKeyIsNoNewPress) {
  const Name translate("translate", optionT);
  listen(translate);
  const auto usual = hotKeys().keyRepeat();
  ASSERT_NO_FATAL_FAILURE(setKeyRepeat(std::chrono::milliseconds(1200), std::chrono::milliseconds(1000)));
  run("xdotool keydown alt+t");
  ASSERT_TRUE(waitUntil([&] { return !log.empty(); }, "the hot key went down"));
  // Held past the first, late repeat.
  QTest::qWait(2000);
  run("xdotool keyup t && xdotool keyup alt");
  EXPECT_EQ(events(), (Strings{"translate down", "translate up"}));
  ASSERT_NO_FATAL_FAILURE(setKeyRepeat(usual.delay, usual.interval));
}

}  // namespace

namespace {

void setKeyName(xcb_connection_t* conn, xcb_keycode_t keycode, const std::string& name) {
  xcb_xkb_key_name_t keyName{};
  std::memcpy(keyName.name, name.data(), std::min(name.size(), sizeof keyName.name));
  xcb_xkb_set_names_values_t values{};
  values.keyNames = &keyName;
  xcb_xkb_set_names_aux(conn, XCB_XKB_ID_USE_CORE_KBD, 0, XCB_XKB_NAME_DETAIL_KEY_NAMES, 0, 0, 0, 0, 0, 0, 0,
                        keycode, 1, 0, 0, &values);
}

TEST_F(HotKeysX11Test, AHotKeyFollowsItsKeyToANewKeycode) {
  const Name up("up", Shortcut(Key::upArrow, ModifierFlags::option));
  listen(up);
  ASSERT_TRUE(gs::isEnabled(up));
  const xcb_keycode_t before = keycode("UP");
  // F22's keycode: a key no keyboard of the test has.
  const xcb_keycode_t after = keycode("FK22");
  // XKB key names are positions: giving the two keys each other's names moves the arrow. (The X server
  // keeps its keycodes when a keymap is loaded by name, and keymap uploads leave key names alone.)
  setKeyName(x11->connection(), before, "FK22");
  setKeyName(x11->connection(), after, "UP");
  std::free(xcb_get_input_focus_reply(x11->connection(), xcb_get_input_focus(x11->connection()), nullptr));
  // The round trip read the change into the connection's queue; a wait that never blocks must hand it on.
  ASSERT_TRUE(waitUntil(
      [&] {
        x11->dispatchPending();
        return keycode("UP") == after;
      },
      "keycode(\"UP\") == after"));

  OtherClient typist;
  typist.type({keycode("LALT"), after});
  EXPECT_EQ(events(), (Strings{"up down", "up up"}));
  // The old keycode is no longer ours.
  EXPECT_EQ(OtherClient().grab(before, kMod1), 0);
}

// While a menu of the program is open it holds the keyboard, so the hot key is matched among the key events
// that reach the menu instead, by the key's position in the layout. (Not with Alt: a Qt menu closes when
// Alt goes down, and the hot key's grab is back for the rest of the combination.)
TEST_F(HotKeysX11Test, WithAMenuOpenAHotKeyFiresOnceThroughTheMenusKeyEvents) {
  const Name translate("translate", Shortcut(Key::t, ModifierFlags::command));
  listen(translate);
  ASSERT_TRUE(gs::isEnabled(translate));
  QMenu menu;
  menu.addAction(QStringLiteral("Settings…"));
  menu.popup(QPoint(100, 100));
  const auto modeIs = [](gs::HotKeyCenter::Mode mode) {
    return waitUntil([mode] { return gs::HotKeyCenter::shared().mode() == mode; },
                     "gs::HotKeyCenter::shared().mode() == mode");
  };
  ASSERT_TRUE(modeIs(gs::HotKeyCenter::Mode::menuOpen));
  // Our grab is withdrawn while the menu is open.
  EXPECT_EQ(OtherClient().grab(keycode("AD05"), XCB_MOD_MASK_CONTROL), 0);

  // T goes up before Ctrl, as people type: the menu's key events carry the modifiers of the moment.
  run("xdotool keydown ctrl keydown t keyup t keyup ctrl");
  EXPECT_EQ(events(), (Strings{"translate down", "translate up"}));
  // Ctrl up first: T's release carries no Ctrl, and still ends the press.
  run("xdotool keydown ctrl keydown t keyup ctrl keyup t");
  EXPECT_EQ(events(), (Strings{"translate down", "translate up"}));
  EXPECT_TRUE(menu.isVisible());

  menu.hide();
  ASSERT_TRUE(modeIs(gs::HotKeyCenter::Mode::normal));
  run("xdotool key ctrl+t");
  EXPECT_EQ(events(), (Strings{"translate down", "translate up"}));
}

TEST_F(HotKeysX11Test, RegistrationsAfterTheConnectionBrokeAreRefusedAndSaidOnce) {
  std::vector<std::string> lines;
  const auto previous = platform::setLogSink([&](platform::LogLevel, std::string_view line) {
    if (line.find("X11HotKeySystem") != std::string_view::npos) lines.emplace_back(line);
  });
  // The server closes our connection when another client kills one of our resources.
  xcb_connection_t* ours = x11->connection();
  const xcb_pixmap_t pixmap = xcb_generate_id(ours);
  xcb_create_pixmap(ours, 1, pixmap, x11->root(), 1, 1);
  std::free(xcb_get_input_focus_reply(ours, xcb_get_input_focus(ours), nullptr));
  OtherClient killer;
  xcb_kill_client(killer.conn, pixmap);
  std::free(xcb_get_input_focus_reply(killer.conn, xcb_get_input_focus(killer.conn), nullptr));

  EXPECT_FALSE(hotKeys().registerHotKey(Key::t.rawValue(), platform::carbon::option, {1, 1}));
  EXPECT_FALSE(hotKeys().registerHotKey(Key::r.rawValue(), platform::carbon::option, {1, 2}));
  const Name translate("translate", optionT);
  listen(translate);
  EXPECT_FALSE(gs::isEnabled(translate));
  platform::setLogSink(previous);
  EXPECT_EQ(lines.size(), 1u);
}

}  // namespace

namespace {

// A shown, active window with a recorder for `name` and a line edit after it.
struct RecordingWindow {
  explicit RecordingWindow(const Name& name) : recorder(new gs::Recorder(name)) {
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(recorder);
    layout->addWidget(new QLineEdit);
  }
  gs::RecorderCocoa& field() { return recorder->field(); }
  // A click on the field once the focus guard of the newly shown window has lapsed.
  void startRecording() {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return window.isActiveWindow(); }, "the window window is active"));
    ASSERT_TRUE(waitUntil([&] { return field().focusPolicy() == Qt::StrongFocus; },
                          "field().focusPolicy() == Qt::StrongFocus"));
    QTest::mouseClick(&field(), Qt::LeftButton);
    ASSERT_TRUE(field().isRecording());
  }

  QWidget window;
  gs::Recorder* recorder;
};

// The whole road of a new shortcut: typed into the recorder by another X client while the old one's grab
// is withdrawn, stored, and grabbed in its place.
TEST_F(HotKeysX11Test, ARecorderRecordsATypedCombinationWhichThenFiresAndFreesTheOldOne) {
  platform::fake::ScriptedAlertPresenter alerts;
  platform::fake::CountingSystemBeep beep;
  services.reset();
  services = std::make_unique<quorvelle::X11ShortcutServices>(*x11, executor, defaults, nullptr,
                                                              std::function<gs::Menu()>{}, &alerts, &beep);
  const Name translate("translate", optionT);
  listen(translate);
  ASSERT_TRUE(gs::isEnabled(translate));
  RecordingWindow window(translate);
  ASSERT_NO_FATAL_FAILURE(window.startRecording());
  auto& field = window.field();
  // Recording: our Alt+T grab is withdrawn.
  EXPECT_EQ(OtherClient().grab(keycode("AD05"), kMod1), 0);

  run("xdotool key ctrl+alt+k");
  ASSERT_TRUE(waitUntil([&] { return !field.isRecording(); }, "!field.isRecording()"));
  const Shortcut ctrlAltK(Key::k, ModifierFlags::command | ModifierFlags::option);
  EXPECT_EQ(gs::getShortcut(translate), ctrlAltK);
  EXPECT_EQ(field.text(), QString::fromUtf8("Ctrl+Alt+K"));
  // Ctrl and Alt going down on their own were neither recorded nor refused.
  EXPECT_TRUE(alerts.shown().empty());
  EXPECT_EQ(beep.beeps, 0);
  EXPECT_TRUE(log.empty());
  ASSERT_TRUE(waitUntil([&] { return gs::isEnabled(translate); }, "gs::isEnabled(translate)"));

  run("xdotool key ctrl+alt+k");
  EXPECT_EQ(events(), (Strings{"translate down", "translate up"}));
  OtherClient other;
  EXPECT_EQ(other.grab(keycode("AD05"), kMod1), 0);
  EXPECT_EQ(other.grab(keycode("AD05"), kMod1 | kMod2), 0);
}

// A refused shortcut's alert is a real message box, a window of its own: once the user has answered it,
// the recorder's window is active again (also without a window manager to hand the activation back) and
// the field records the next press.
TEST_F(HotKeysX11Test, AfterARealAlertTheRecorderRecordsTheNextPress) {
  platform::MessageBoxAlertPresenter alerts;
  services.reset();
  services = std::make_unique<quorvelle::X11ShortcutServices>(
      *x11, executor, defaults, nullptr,
      [] {
        gs::Menu menu;
        menu.items.push_back({"Quit Quorvelle", "q", ModifierFlags::command, nullptr});
        return menu;
      },
      &alerts);
  const Name translate("translate", optionT);
  RecordingWindow window(translate);
  ASSERT_NO_FATAL_FAILURE(window.startRecording());
  auto& field = window.field();

  // Return, typed by another client into the alert once it is up and has the keyboard.
  int answered = 0;
  QTimer answer;
  answer.setInterval(50);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    const QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr || !box->isActiveWindow()) return;
    answer.stop();
    ++answered;
    run("xdotool key Return");
  });
  answer.start();
  run("xdotool key ctrl+q");
  ASSERT_TRUE(waitUntil(
      [&] { return answered == 1 && QApplication::activeModalWidget() == nullptr && field.isRecording(); },
      "answered == 1 && QApplication::activeModalWidget() == nullptr && field.isRecording()"));
  EXPECT_EQ(gs::getShortcut(translate), optionT);
  EXPECT_TRUE(window.window.isActiveWindow());

  run("xdotool key ctrl+alt+k");
  ASSERT_TRUE(waitUntil([&] { return !field.isRecording(); }, "!field.isRecording()"));
  EXPECT_EQ(gs::getShortcut(translate), Shortcut(Key::k, ModifierFlags::command | ModifierFlags::option));
}

}  // namespace
