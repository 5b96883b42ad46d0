#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <vector>

#include "platform/linux/desktop/QtMenuTracking.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"

using Event = platform::MenuTracking::Event;

TEST(QtMenuTracking, TrackingEndsWhenTheLastOpenMenuGoesAwayHiddenOrDestroyed) {
  platform::QtMenuTracking tracking;
  std::vector<Event> events;
  tracking.addObserver([&](Event event) { events.push_back(event); });

  struct Case {
    const char* what;
    bool destroyOpen;  // the menu is destroyed while open instead of being hidden
  };
  for (const Case c :
       {Case{"hidden", false}, Case{"destroyed while open", true}, Case{"hidden again", false}}) {
    SCOPED_TRACE(c.what);
    events.clear();
    auto* menu = new QMenu;
    menu->addAction("Item");
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(quorvelle::test::waitUntilExposed(menu));
    if (!c.destroyOpen) menu->hide();
    delete menu;
    EXPECT_EQ(events, (std::vector<Event>{Event::didBeginTracking, Event::didEndTracking}));
  }
}
