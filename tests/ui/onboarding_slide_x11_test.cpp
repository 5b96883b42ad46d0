// The onboarding window's page slide on a desktop with a window manager (openbox): what the X server
// shows of the window during the slide is what the window draws, with no copies of a page left behind.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QAbstractAnimation>
#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/ui/OnboardingWorld.h"
#include "ui/OnboardingView.h"

namespace quorvelle {
namespace {

using test::waitUntil;
using namespace std::chrono_literals;

// Whether a window manager runs on the display: it names its check window on the root.
bool windowManagerRuns() {
  xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
  const char name[] = "_NET_SUPPORTING_WM_CHECK";
  auto* atom = xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, sizeof name - 1, name), nullptr);
  bool runs = false;
  if (atom != nullptr) {
    auto* property = xcb_get_property_reply(
        conn, xcb_get_property(conn, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    runs = property != nullptr && xcb_get_property_value_length(property) > 0;
    std::free(property);
    std::free(atom);
  }
  xcb_disconnect(conn);
  return runs;
}

// The share of pixels that differ by more than a rounding step in any channel.
double differingShare(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.isNull()) return 1;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  long differing = 0;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int column = 0; column < x.width(); ++column) {
      if (std::abs(qRed(p[column]) - qRed(q[column])) > 2 ||
          std::abs(qGreen(p[column]) - qGreen(q[column])) > 2 ||
          std::abs(qBlue(p[column]) - qBlue(q[column])) > 2) {
        ++differing;
      }
    }
  }
  return double(differing) / (double(x.width()) * x.height());
}

TEST(OnboardingSlideX11, TheScreenShowsOnlyTheTwoSlidingPagesInTheirPlaces) {
  ASSERT_FALSE(QStandardPaths::findExecutable("openbox").isEmpty()) << "openbox is needed (scripts/setup.sh)";
  QProcess windowManager;
  windowManager.start("openbox", {"--sm-disable", "--config-file", "/dev/null"});
  ASSERT_TRUE(windowManager.waitForStarted());

  ASSERT_TRUE(waitUntil(windowManagerRuns, "openbox managing the display"));

  test::OnboardingWorld w;
  OnboardingView view({w.services, w.analytics, w.selection, w.relauncher, w.shell, w.hotkeys()}, [] {});
  view.show();
  ASSERT_TRUE(quorvelle::test::waitUntilExposed(&view));
  QWidget* area = view.page()->parentWidget();

  view.flow().splashDone();
  QAbstractAnimation* slide = view.transition();
  ASSERT_NE(slide, nullptr);
  // Some frames of the slide painted, then held still halfway.
  ASSERT_TRUE(waitUntil([&] { return slide->currentTime() >= slide->duration() / 2; }, "half the slide"));
  slide->pause();
  const QRect onScreen(area->mapToGlobal(QPoint(0, 0)), area->size());
  double share = 1;
  const bool same = waitUntil(
      [&] {
        const QImage drawn = area->grab().toImage();
        const QImage shown =
            QGuiApplication::primaryScreen()
                ->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(), onScreen.height())
                .toImage();
        share = differingShare(drawn, shown);
        return share < 0.002;
      },
      "the screen showing what the window draws", 10s);
  EXPECT_TRUE(same) << share * 100 << "% of the pixels differ";
  slide->resume();
  ASSERT_TRUE(
      waitUntil([&] { return view.transition() == nullptr && view.page()->isVisible(); }, "the slide's end"));

  windowManager.terminate();
  windowManager.waitForFinished();
}

}  // namespace
}  // namespace quorvelle
