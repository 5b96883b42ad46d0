// The tutorial's animations: both play from the resources, frames advance on the executor's timers, and
// a missing animation leaves only the coloured area.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <chrono>

#include "platform/fake/ManualExecutor.h"
#include "ui/AnimationView.h"
#include "ui/LottieLibrary.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;

int paintedPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) != 0) ++count;
    }
  }
  return count;
}

TEST(AnimationViewTest, EachAnimationRendersAndLoopsOnTheExecutor) {
  platform::fake::ManualExecutor executor;
  for (const char* name : {"dictionary-lookup", "chat-refine"}) {
    SCOPED_TRACE(name);
    AnimationView view(name, Qt::black, executor);
    ASSERT_TRUE(view.isLoaded());
    const int frames = view.frameCount();
    EXPECT_EQ(frames, 90);
    const QImage first = view.renderFrame(QSize(443, 310));
    EXPECT_GT(paintedPixels(first), 1000);

    view.resize(443, 310);
    view.show();
    EXPECT_EQ(view.frame(), 0);
    executor.advance(1s);
    EXPECT_EQ(view.frame(), 30);
    EXPECT_NE(view.renderFrame(QSize(443, 310)), first) << "a later frame looks different";
    executor.advance(2s);
    EXPECT_EQ(view.frame(), 0) << "loops after 3 s";

    // Resizable: a smaller frame still shows the whole animation.
    EXPECT_GT(paintedPixels(view.renderFrame(QSize(221, 155))), 250);

    view.hide();
    executor.advance(1s);
    EXPECT_EQ(view.frame(), 0) << "no ticks while hidden";
  }
}

// The tutorial's static fallback: the coloured area alone, for an animation that is not there and for
// a renderer that cannot be opened.
TEST(AnimationViewTest, AMissingAnimationOrRendererLeavesTheColouredAreaEmpty) {
  QString error;
  const auto missing = LottieLibrary::open("librlottie-missing-for-tests.so.0", error);
  EXPECT_EQ(missing, nullptr);
  EXPECT_TRUE(error.contains("librlottie-missing-for-tests")) << error.toStdString();
  const auto notTheRenderer = LottieLibrary::open("libz.so.1", error);
  EXPECT_EQ(notTheRenderer, nullptr);
  EXPECT_TRUE(error.contains("lottie_animation_from_data")) << error.toStdString();

  struct Case {
    const char* name;
    const char* animation;
    const LottieLibrary* renderer;
  };
  for (const Case& c : {Case{"no such animation", "no-such-animation", LottieLibrary::shared()},
                        Case{"no renderer", "dictionary-lookup", nullptr}}) {
    SCOPED_TRACE(c.name);
    platform::fake::ManualExecutor executor;
    const QColor background = QColor::fromRgbF(0.95f, 0.95f, 0.965f);
    AnimationView view(c.animation, background, executor, c.renderer);
    EXPECT_FALSE(view.isLoaded());
    EXPECT_EQ(view.frameCount(), 0);
    EXPECT_TRUE(view.renderFrame(QSize(100, 100)).isNull());
    view.resize(200, 120);
    view.show();
    executor.advance(1s);
    EXPECT_EQ(view.frame(), 0);
    const QImage shown = view.grab().toImage();
    EXPECT_EQ(shown.pixelColor(100, 60).rgb(), background.rgb());
  }
}

}  // namespace
}  // namespace quorvelle
