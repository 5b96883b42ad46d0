#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <cstdlib>

#include "tests/support/Eventually.h"

using quorvelle::test::waitUntil;

// Proves the x11 harness: a real X server (our own Xvfb), Qt on xcb, a window that maps and closes.
TEST(X11Harness, QtWindowOpensAndClosesOnOwnXServer) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr);
  EXPECT_EQ(QGuiApplication::platformName(), "xcb");

  QWidget window;
  window.setWindowTitle("quorvelle-smoke");
  window.resize(200, 120);
  window.show();
  ASSERT_TRUE(
      waitUntil([&] { return window.windowHandle() != nullptr && window.windowHandle()->isExposed(); },
                "the window is exposed"));
  EXPECT_TRUE(window.isVisible());
  EXPECT_NE(window.winId(), 0u);

  window.close();
  EXPECT_FALSE(window.isVisible());
}
