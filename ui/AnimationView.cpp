#include "ui/AnimationView.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <chrono>
#include <cmath>
#include <string>

#ifdef QUORVELLE_HAVE_RLOTTIE
#include <rlottie.h>
#endif

namespace quorvelle {
namespace {

constexpr double kCornerRadius = 16;

}  // namespace

struct AnimationView::Player {
#ifdef QUORVELLE_HAVE_RLOTTIE
  std::unique_ptr<rlottie::Animation> animation;
#endif
};

AnimationView::AnimationView(const QString& name, QColor background, platform::MainExecutor& executor,
                             QWidget* parent)
    : QWidget(parent), player_(std::make_unique<Player>()), background_(background), executor_(executor) {
  setObjectName(name);
#ifdef QUORVELLE_HAVE_RLOTTIE
  QFile file(QStringLiteral(":/animations/%1.json").arg(name));
  if (file.open(QIODevice::ReadOnly)) {
    // The key names the animation in the renderer's cache; resources have no folder for images.
    player_->animation =
        rlottie::Animation::loadFromData(file.readAll().toStdString(), name.toStdString(), "",
                                         /*cachePolicy=*/false);
  }
#endif
}

AnimationView::~AnimationView() {
  ticks_.cancel();
}

bool AnimationView::isLoaded() const {
#ifdef QUORVELLE_HAVE_RLOTTIE
  return player_->animation != nullptr;
#else
  return false;
#endif
}

int AnimationView::frameCount() const {
#ifdef QUORVELLE_HAVE_RLOTTIE
  if (player_->animation) return static_cast<int>(player_->animation->totalFrame());
#endif
  return 0;
}

QImage AnimationView::renderFrame(QSize size) const {
  if (!isLoaded() || size.isEmpty()) return {};
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
#ifdef QUORVELLE_HAVE_RLOTTIE
  rlottie::Surface surface(reinterpret_cast<uint32_t*>(image.bits()), static_cast<size_t>(size.width()),
                           static_cast<size_t>(size.height()), static_cast<size_t>(image.bytesPerLine()));
  player_->animation->renderSync(static_cast<size_t>(frame_), surface);
#endif
  return image;
}

void AnimationView::advance() {
  const int count = frameCount();
  if (count <= 0) return;
  frame_ = (frame_ + 1) % count;
  update();
}

void AnimationView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ticks_.cancel();
  frame_ = 0;
#ifdef QUORVELLE_HAVE_RLOTTIE
  if (!player_->animation) return;
  const double rate = player_->animation->frameRate();
  const auto interval =
      std::chrono::nanoseconds(static_cast<long long>(std::llround(1e9 / (rate > 0 ? rate : 30))));
  ticks_ = executor_.scheduleRepeating(interval, [view = QPointer<AnimationView>(this)] {
    if (view) view->advance();
  });
#endif
}

void AnimationView::hideEvent(QHideEvent* event) {
  ticks_.cancel();
  QWidget::hideEvent(event);
}

void AnimationView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath shape;
  shape.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
  painter.fillPath(shape, background_);
  const QImage image = renderFrame(size() * devicePixelRatioF());
  if (image.isNull()) return;
  painter.setClipPath(shape);
  painter.drawImage(rect(), image);
}

}  // namespace quorvelle
