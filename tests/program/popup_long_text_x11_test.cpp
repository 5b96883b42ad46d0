// A long selection: the popup never grows beyond its screen's visible frame (less its margins); the
// translation scrolls inside it instead.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "tests/program/ProgramX11Test.h"
#include "tests/support/Eventually.h"

namespace {

using namespace quorvelle::test;

TEST_F(ProgramX11Test, APopupForALongSelectionStaysWithinItsScreen) {
  const QString text = QString("The quick brown fox jumps over the lazy dog. ").repeated(83);
  ASSERT_GE(text.size(), 3700);
  TkTextWindow window({.title = "long text", .text = text, .geometry = {100, 700, 500, 40}});
  ASSERT_TRUE(window.isReady()) << "wish did not start (scripts/setup.sh installs tk)";
  window.focus();
  window.select(0, static_cast<int>(text.size()));
  ASSERT_TRUE(waitForPrimary(text));
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});

  const auto popup = waitForPopup();
  ASSERT_TRUE(popup) << "no popup mapped";
  // Loaded: far taller than its loading line.
  const auto frame = waitForPopupTallerThan(*popup, 400);
  ASSERT_TRUE(frame) << "the translation did not show";
  const QRect visible = QGuiApplication::primaryScreen()->availableGeometry().adjusted(8, 8, -8, -8);
  EXPECT_TRUE(waitUntil(
      [&] {
        const auto now = windowGeometry(*popup);
        return now && visible.contains(*now);
      },
      "the popup lies within the visible frame less its margins"))
      << "popup " << frame->y() << "+" << frame->height() << ", visible " << visible.y() << "+"
      << visible.height();
}

}  // namespace
