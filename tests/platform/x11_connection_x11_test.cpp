#include "platform/linux/desktop/X11Connection.h"
#include "tests/support/Eventually.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <cstring>

namespace platform {
namespace {

using quorvelle::test::waitUntil;

void run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  ASSERT_TRUE(p.waitForStarted(5000));
  ASSERT_TRUE(
      waitUntil([&] { return p.state() == QProcess::NotRunning; }, "p.state() == QProcess::NotRunning"));
  ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

TEST(X11Connection, KeyNamesResolveToKeycodesBothWays) {
  auto x11 = X11Connection::open();
  ASSERT_TRUE(x11);
  EXPECT_NE(x11->root(), XCB_NONE);
  EXPECT_EQ(x11->keycodeForName("AB03"), 54);
  EXPECT_EQ(x11->keycodeForName("LCTL"), 37);
  EXPECT_EQ(x11->keycodeForName("NOPE"), std::nullopt);
  EXPECT_EQ(x11->nameForKeycode(54), "AB03");
}

TEST(X11Connection, OpeningAMissingDisplayGivesNothing) {
  EXPECT_EQ(X11Connection::open(":4711"), nullptr);
}

// Events reach subscribers from the Qt event loop; one that unsubscribes while handling an event is not
// called again.
TEST(X11Connection, EventsAreDispatchedFromTheEventLoop) {
  auto x11 = X11Connection::open();
  ASSERT_TRUE(x11);
  auto* c = x11->connection();
  const xcb_window_t window = xcb_generate_id(c);
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x11->root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);

  int seen = 0;
  int once = 0;
  x11->subscribe([&](const xcb_generic_event_t& e) {
    if ((e.response_type & 0x7f) == XCB_PROPERTY_NOTIFY) ++seen;
  });
  X11Connection::SubscriptionId onceId = 0;
  onceId = x11->subscribe([&](const xcb_generic_event_t& e) {
    if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
    ++once;
    x11->unsubscribe(onceId);
  });
  for (const char* value : {"one", "two"}) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(std::strlen(value)), value);
  }
  x11->flush();
  EXPECT_TRUE(waitUntil([&] { return seen == 2; }, "seen == 2"));
  EXPECT_EQ(once, 1);
}

// A synthetic key from another client's XTest device also announces a "new keyboard" with the same
// keymap: only a real change reaches keymap subscribers, and key names keep their physical keys.
TEST(X11Connection, KeymapSubscribersHearOnlyRealChanges) {
  auto x11 = X11Connection::open();
  ASSERT_TRUE(x11);
  int changes = 0;
  x11->subscribeKeymapChanged([&] { ++changes; });

  run("xdotool", {"key", "shift"});
  // xdotool's typing was done when it ended (it synchronises on closing): a round trip brings every event
  // it caused into our queue.
  std::free(xcb_get_input_focus_reply(x11->connection(), xcb_get_input_focus(x11->connection()), nullptr));
  x11->dispatchPending();
  EXPECT_EQ(changes, 0);

  run("setxkbmap", {"de"});
  EXPECT_TRUE(waitUntil([&] { return changes > 0; }, "changes > 0"));
  EXPECT_EQ(x11->keycodeForName("AB03"), 54);
  EXPECT_EQ(x11->keycodeForName("AD06"), 29);  // Z on German keyboards, Y on US ones: same key
}

}  // namespace
}  // namespace platform
