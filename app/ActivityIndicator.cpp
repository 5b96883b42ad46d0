#include "app/ActivityIndicator.h"

#include <QPainter>

#include "app/PopupStyle.h"

namespace quorvelle {
namespace {
constexpr int kSpokes = 8;
constexpr int kStepMilliseconds = 90;
}  // namespace

ActivityIndicator::ActivityIndicator(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFixedSize(diameter, diameter);
  timer_.setInterval(kStepMilliseconds);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % kSpokes;
    update();
  });
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(width() / 2.0, height() / 2.0);
  const double r = diameter_ / 2.0;
  QColor color = popup_style::primary(palette());
  for (int i = 0; i < kSpokes; ++i) {
    const int age = (step_ - i + kSpokes) % kSpokes;
    color.setAlphaF(static_cast<float>(0.85 - 0.09 * age));
    painter.setPen(QPen(color, std::max(1.2, diameter_ / 9.0), Qt::SolidLine, Qt::RoundCap));
    painter.save();
    painter.rotate(360.0 * i / kSpokes);
    painter.drawLine(QPointF(0, -r * 0.45), QPointF(0, -r * 0.9));
    painter.restore();
  }
}

void ActivityIndicator::showEvent(QShowEvent* event) {
  timer_.start();
  QWidget::showEvent(event);
}

void ActivityIndicator::hideEvent(QHideEvent* event) {
  timer_.stop();
  QWidget::hideEvent(event);
}

}  // namespace quorvelle
