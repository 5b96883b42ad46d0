#include <gtest/gtest.h>

#include <ostream>

#include "app/PopupPlacement.h"
#include "platform/fake/StoredPopupPanel.h"
#include "platform/fake/StoredScreens.h"

namespace platform {
inline void PrintTo(const Point& p, std::ostream* os) {
  *os << "(" << p.x << ", " << p.y << ")";
}
inline void PrintTo(const Size& s, std::ostream* os) {
  *os << s.width << "x" << s.height;
}
inline void PrintTo(const Rect& r, std::ostream* os) {
  PrintTo(r.origin, os);
  *os << " ";
  PrintTo(r.size, os);
}
}  // namespace platform

namespace {

using platform::Point;
using platform::Rect;
using platform::Screen;
using platform::Size;
using platform::fake::StoredPopupPanel;
using platform::fake::StoredScreens;
using quorvelle::PopupPlacement;

// A laptop screen with a Dock at the bottom (70) and a menu bar at the top (25), and a larger screen to
// its right with a menu bar only.
const Screen kMain{{{0, 0}, {1440, 900}}, {{0, 70}, {1440, 805}}};
const Screen kSecond{{{1440, 0}, {1920, 1080}}, {{1440, 0}, {1920, 1050}}};

class PopupPlacementTest : public testing::Test {
 protected:
  PopupPlacementTest() { screens.list = {kMain, kSecond}; }

  StoredScreens screens;
  StoredPopupPanel panel{&screens};
};

struct PositionCase {
  const char* name;
  Point mouse;
  Size panel;
  Point origin;
};

TEST_F(PopupPlacementTest, PositionNearMouse) {
  const PositionCase cases[] = {
      // Top-left corner 20 left of and 24 below the pointer.
      {"middle", {700, 500}, {300, 200}, {680, 276}},
      // Right edge 8 inside the visible frame.
      {"right edge", {1430, 500}, {300, 200}, {1132, 276}},
      {"left edge", {10, 500}, {300, 200}, {8, 276}},
      // Too close to the Dock: bottom edge 24 above the pointer, whatever the room above.
      {"above the dock", {700, 250}, {300, 200}, {680, 274}},
      {"within the margin above the dock", {700, 298}, {300, 200}, {680, 322}},
      {"exactly at the margin", {700, 302}, {300, 200}, {680, 78}},
      {"flip past the top", {700, 120}, {300, 800}, {680, 144}},
      // Wider than the screen: the right margin wins and the panel sticks out at the left.
      {"wider than the screen", {700, 500}, {1500, 200}, {-68, 276}},
      {"second screen, left edge", {1450, 1000}, {300, 200}, {1448, 776}},
      {"second screen, right edge", {3350, 500}, {300, 200}, {3052, 276}},
      // The second screen has no Dock: 10 above its bottom is not a flip there.
      {"second screen, low", {2000, 240}, {300, 200}, {1980, 16}},
      // The pointer on the top row of the main screen still counts as on it.
      {"top row of the main screen", {1435, 900}, {300, 200}, {1132, 676}},
      {"no screen under the pointer", {-500, -500}, {300, 200}, {-520, -724}},
  };
  for (const auto& c : cases) {
    screens.mouse = c.mouse;
    panel.place({{1, 1}, c.panel}, false);
    PopupPlacement::positionNearMouse(panel, screens);
    EXPECT_EQ(panel.frame(), (Rect{c.origin, c.panel})) << c.name;
  }
}

TEST_F(PopupPlacementTest, PositionWithoutAnyScreenUsesThePlainOffset) {
  screens.list.clear();
  screens.mouse = {700, 500};
  panel.place({{0, 0}, {300, 200}}, false);
  PopupPlacement::positionNearMouse(panel, screens);
  EXPECT_EQ(panel.frame().origin, (Point{680, 276}));
}

struct ClampCase {
  const char* name;
  Rect frame;
  Point origin;
};

TEST_F(PopupPlacementTest, ClampToVisibleFrame) {
  const ClampCase cases[] = {
      {"past the top after a flip", {{100, 700}, {300, 200}}, {100, 667}},
      {"into the Dock", {{100, 20}, {300, 200}}, {100, 78}},
      {"past the right edge", {{1200, 300}, {300, 200}}, {1132, 300}},
      // Larger than the visible frame: the right and top margins win.
      {"too large", {{0, 0}, {1500, 900}}, {-68, -33}},
      // Mostly on the second screen: that screen's visible frame counts.
      {"on the second screen", {{1400, 1000}, {300, 200}}, {1448, 842}},
      // On no screen: the main screen's frame counts.
      {"off every screen", {{-2000, -2000}, {100, 100}}, {8, 78}},
  };
  for (const auto& c : cases) {
    panel.place(c.frame, true);
    PopupPlacement::clampToVisibleFrame(panel, screens);
    EXPECT_EQ(panel.frame(), (Rect{c.origin, c.frame.size})) << c.name;
  }
}

TEST_F(PopupPlacementTest, ClampLeavesAPanelAloneWhenInsideHiddenOrWithoutScreens) {
  panel.place({{100, 300}, {300, 200}}, true);
  PopupPlacement::clampToVisibleFrame(panel, screens);
  EXPECT_EQ(panel.moveCount, 0);

  panel.place({{100, 700}, {300, 200}}, false);
  PopupPlacement::clampToVisibleFrame(panel, screens);
  EXPECT_EQ(panel.moveCount, 0);

  screens.list.clear();
  panel.place({{-2000, -2000}, {100, 100}}, true);
  PopupPlacement::clampToVisibleFrame(panel, screens);
  EXPECT_EQ(panel.moveCount, 0);
}

TEST_F(PopupPlacementTest, RefitKeepsTheTopLeftCornerAndClamps) {
  // Taller content: the top edge stays at 700 and the panel grows downward.
  panel.place({{100, 500}, {300, 200}}, true);
  panel.contentFittingSize = Size{320, 350};
  PopupPlacement::refitKeepingTopLeft(panel, screens);
  EXPECT_EQ(panel.frame(), (Rect{{100, 350}, {320, 350}}));
  // In one step: never shown for a moment with the bottom-left corner kept.
  EXPECT_EQ(panel.frames, (std::vector<Rect>{{{100, 350}, {320, 350}}}));

  // Shorter content: it shrinks toward the top.
  panel.contentFittingSize = Size{320, 100};
  PopupPlacement::refitKeepingTopLeft(panel, screens);
  EXPECT_EQ(panel.frame(), (Rect{{100, 600}, {320, 100}}));

  // Growing past the Dock: the bottom stays 8 above the visible frame's bottom.
  panel.place({{100, 200}, {300, 200}}, true);
  panel.contentFittingSize = Size{300, 400};
  PopupPlacement::refitKeepingTopLeft(panel, screens);
  EXPECT_EQ(panel.frame(), (Rect{{100, 78}, {300, 400}}));
}

TEST_F(PopupPlacementTest, RefitAndFitWithoutContentOrWhileHidden) {
  panel.place({{100, 500}, {300, 200}}, false);
  panel.contentFittingSize = Size{300, 400};
  PopupPlacement::refitKeepingTopLeft(panel, screens);
  EXPECT_EQ(panel.frame(), (Rect{{100, 500}, {300, 200}}));

  panel.contentFittingSize.reset();
  PopupPlacement::fit(panel, screens);
  EXPECT_EQ(panel.frame().size, (Size{300, 200}));
}

// Content taller than the screen: the panel keeps to the visible frame less the margins, placed by the
// pointer's screen (fit) or by its own (refit), and its content scrolls.
TEST_F(PopupPlacementTest, APanelNeverGrowsTallerThanItsScreensVisibleFrame) {
  screens.mouse = {700, 450};
  panel.contentFittingSize = Size{340, 1324};
  PopupPlacement::fit(panel, screens);
  EXPECT_EQ(panel.frame().size, (Size{340, 805 - 16}));

  screens.mouse = {2000, 500};
  PopupPlacement::fit(panel, screens);
  EXPECT_EQ(panel.frame().size, (Size{340, 1050 - 16}));

  panel.place({{100, 600}, {340, 100}}, true);
  PopupPlacement::refitKeepingTopLeft(panel, screens);
  EXPECT_EQ(panel.frame(), (Rect{{100, 78}, {340, 805 - 16}}));
}

}  // namespace
