#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <memory>

struct Lottie_Animation_S;

#include "platform/CancelToken.h"
#include "platform/MainExecutor.h"

namespace quorvelle {

class LottieLibrary;

// A looping animation from the program's resources (":/animations/<name>.json", Lottie JSON), scaled to
// the widget, over a coloured rounded area (corner radius 16) that clips it. Frames advance on the main
// executor's timers while the view is shown, from the first frame each time it appears.
//
// An animation that cannot be found or read, or a renderer that cannot be opened (LottieLibrary), leaves
// the coloured area empty; everything else works as usual.
//
// Main thread only; the executor must outlive the view.
class AnimationView : public QWidget {
 public:
  // Drawn by `renderer`, the program's unless given; none draws nothing.
  AnimationView(const QString& name, QColor background, platform::MainExecutor& executor,
                QWidget* parent = nullptr);
  AnimationView(const QString& name, QColor background, platform::MainExecutor& executor,
                const LottieLibrary* renderer, QWidget* parent = nullptr);
  ~AnimationView() override;

  bool isLoaded() const;
  int frameCount() const;
  int frame() const { return frame_; }
  // The current frame at `size`, transparent where the animation draws nothing; null when not loaded.
  QImage renderFrame(QSize size) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void advance();

  const LottieLibrary* renderer_;
  Lottie_Animation_S* animation_ = nullptr;  // owned; null when not loaded
  QColor background_;
  platform::MainExecutor& executor_;
  platform::CancelToken ticks_;
  int frame_ = 0;
};

}  // namespace quorvelle
