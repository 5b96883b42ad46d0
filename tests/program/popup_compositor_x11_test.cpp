// The popup's card and the desktop's compositing manager: without one, see-through pixels show black, so
// the card is square and opaque; while one runs (xcompmgr here) it is rounded and translucent, and it
// follows the manager starting and ending.

#include <gtest/gtest.h>

#include <QImage>
#include <QStandardPaths>
#include <memory>

#include "app/LookupClient.h"
#include "app/PopupView.h"
#include "platform/fake/ScriptedHttpClient.h"
#include "platform/linux/desktop/X11Connection.h"
#include "program/DesktopPopup.h"
#include "tests/program/DesktopPopupWorld.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"

namespace {

using quorvelle::PopupMode;
using quorvelle::test::waitUntil;

class PopupCompositorX11Test : public testing::Test, protected quorvelle::test::DesktopPopupWorld {
 protected:
  quorvelle::PopupView* view() { return panel.window()->findChild<quorvelle::PopupView*>(); }
  // The alpha of the card's top-left pixel as the view paints it.
  int cornerAlpha() { return view()->grab().toImage().pixelColor(0, 0).alpha(); }

  std::unique_ptr<platform::X11Connection> x11 = platform::X11Connection::open();
  platform::fake::ScriptedHttpClient http;
  quorvelle::LookupClient lookup{http, executor, geminiKey, "https://backend.invalid", "Refine."};
};

TEST_F(PopupCompositorX11Test, TheCardIsOpaqueAndSquareUnlessACompositingManagerRuns) {
  ASSERT_TRUE(x11);
  ASSERT_FALSE(QStandardPaths::findExecutable("xcompmgr").isEmpty())
      << "xcompmgr is needed (scripts/setup.sh)";
  quorvelle::DesktopPopup popup{panel, services(lookup), x11.get()};
  popup.show("hello", PopupMode::translate);
  ASSERT_TRUE(waitUntil([&] { return panel.isVisible(); }, "the popup shows"));
  ASSERT_NE(view(), nullptr);
  EXPECT_FALSE(view()->isTranslucent());
  EXPECT_EQ(cornerAlpha(), 255);

  auto compositor = quorvelle::test::startChild("xcompmgr", {});
  EXPECT_TRUE(waitUntil([&] { return view()->isTranslucent(); }, "the card turns translucent"));
  EXPECT_EQ(cornerAlpha(), 0);

  quorvelle::test::stopChild(compositor);
  EXPECT_TRUE(waitUntil([&] { return !view()->isTranslucent(); }, "the card turns opaque again"));
  EXPECT_EQ(cornerAlpha(), 255);
  popup.controller().dismiss();
}

}  // namespace
