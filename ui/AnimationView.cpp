#include "ui/AnimationView.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>

#include "ui/LottieLibrary.h"

namespace quorvelle {
namespace {

constexpr double kCornerRadius = 16;

}  // namespace

AnimationView::AnimationView(const QString& name, QColor background, platform::MainExecutor& executor,
                             QWidget* parent)
    : AnimationView(name, background, executor, LottieLibrary::shared(), parent) {}

AnimationView::AnimationView(const QString& name, QColor background, platform::MainExecutor& executor,
                             const LottieLibrary* renderer, QWidget* parent)
    : QWidget(parent), renderer_(renderer), background_(background), executor_(executor) {
  setObjectName(name);
  if (renderer_ == nullptr) return;
  QFile file(QStringLiteral(":/animations/%1.json").arg(name));
  if (file.open(QIODevice::ReadOnly)) {
    // The key names the animation in the renderer's cache; resources have no folder for images.
    const std::string data = file.readAll().toStdString();
    animation_ = renderer_->fromData(data.c_str(), name.toStdString().c_str(), "");
  }
}

AnimationView::~AnimationView() {
  ticks_.cancel();
  if (animation_) renderer_->destroy(animation_);
}

bool AnimationView::isLoaded() const {
  return animation_ != nullptr;
}

int AnimationView::frameCount() const {
  return animation_ ? static_cast<int>(renderer_->totalFrame(animation_)) : 0;
}

QImage AnimationView::renderFrame(QSize size) const {
  if (!isLoaded() || size.isEmpty()) return {};
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  renderer_->render(animation_, static_cast<std::size_t>(frame_),
                    reinterpret_cast<std::uint32_t*>(image.bits()), static_cast<std::size_t>(size.width()),
                    static_cast<std::size_t>(size.height()), static_cast<std::size_t>(image.bytesPerLine()));
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
  if (!animation_) return;
  const double rate = renderer_->frameRate(animation_);
  const auto interval =
      std::chrono::nanoseconds(static_cast<long long>(std::llround(1e9 / (rate > 0 ? rate : 30))));
  ticks_ = executor_.scheduleRepeating(interval, [view = QPointer<AnimationView>(this)] {
    if (view) view->advance();
  });
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
