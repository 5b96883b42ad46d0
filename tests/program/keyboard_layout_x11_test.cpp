// Shortcut text from the X server's live keyboard layout, through the program's shortcut services: layout
// changes and group switches show without a restart.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QTest>
#include <cstdlib>
#include <memory>
#include <string>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/Shortcut.h"
#include "app/quorvelleApp.h"
#include "platform/HotKeySystem.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11KeyboardLayout.h"
#include "platform/linux/desktop/X11Xkb.h"
#include "program/X11ShortcutServices.h"
#include "tests/support/Eventually.h"

#include <xkbcommon/xkbcommon.h>

namespace gs = GlobalShortcuts;
using gs::Shortcut;
namespace carbon = platform::carbon;

namespace {

using quorvelle::test::waitUntil;

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void lockGroup(xcb_connection_t* conn, std::uint8_t group) {
  xcb_xkb_latch_lock_state(conn, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
  std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
}

class KeyboardLayoutX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    x11 = platform::X11Connection::open();
    ASSERT_TRUE(x11);
    services = std::make_unique<quorvelle::X11ShortcutServices>(*x11, executor, defaults, nullptr,
                                                                &quorvelle::quorvelleApp::shortcutMenu);
  }

  // Runs setxkbmap with `arguments` and waits until the connection has a keymap of `groups` groups.
  bool switchTo(const std::string& arguments, xkb_layout_index_t groups) {
    run("setxkbmap " + arguments);
    return waitUntil([&] { return xkb_keymap_num_layouts(x11->keymap()) == groups; },
                     "xkb_keymap_num_layouts(x11->keymap()) == groups");
  }

  platform::QtMainExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  std::unique_ptr<platform::X11Connection> x11;
  std::unique_ptr<quorvelle::X11ShortcutServices> services;
};

TEST_F(KeyboardLayoutX11Test, ANewLayoutShowsWithoutARestart) {
  const Shortcut y(16, carbon::option);
  EXPECT_EQ(y.presentableDescription(), "Alt+Y");
  run("setxkbmap de");
  // Each lookup asks the server for the group, which may read the keymap change into the connection's
  // queue: the event loop hands it on once it is idle, which a wait that never blocks must do itself.
  EXPECT_TRUE(waitUntil(
      [&] {
        x11->dispatchPending();
        return y.presentableDescription() == "Alt+Z";
      },
      "the key reading Alt+Z"))
      << y.presentableDescription();
  EXPECT_EQ(Shortcut(33, 0).presentableDescription(), "\u00DC");
}

TEST_F(KeyboardLayoutX11Test, WithRussianLockedKeysShowTheirLatinLettersAndCtrlQIsStillQuit) {
  ASSERT_TRUE(switchTo("-layout ru,us", 2));
  lockGroup(x11->connection(), 0);
  platform::X11KeyboardLayout layout(*x11);
  ASSERT_EQ(layout.currentGroup(), 0u);
  EXPECT_EQ(Shortcut(17, carbon::option).presentableDescription(), "Alt+T");
  // The recorder's conflict check finds the status menu's Quit on the physical Q key.
  const auto menu = gs::environment().mainMenu();
  const auto* quit = Shortcut(gs::Key::q, gs::ModifierFlags::command).menuItemWithMatchingShortcut(menu);
  ASSERT_NE(quit, nullptr);
  EXPECT_EQ(quit->title, "Quit Quorvelle");
}

TEST_F(KeyboardLayoutX11Test, AGroupSwitchShowsAtOnce) {
  ASSERT_TRUE(switchTo("-layout us,de", 2));
  const Shortcut y(16, 0);
  lockGroup(x11->connection(), 0);
  EXPECT_EQ(y.presentableDescription(), "Y");
  // No event has to reach the program first: the group is asked for at each lookup.
  lockGroup(x11->connection(), 1);
  EXPECT_EQ(y.presentableDescription(), "Z");
  lockGroup(x11->connection(), 0);
  EXPECT_EQ(y.presentableDescription(), "Y");
}

}  // namespace
