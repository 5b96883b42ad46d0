#include "ui/CrossFade.h"

#include <QPainter>
#include <QVariantAnimation>

namespace quorvelle {

CrossFade::CrossFade(QWidget* target, QPixmap look) : QWidget(target), look_(std::move(look)) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setGeometry(target->rect());
}

CrossFade* CrossFade::start(QWidget* target, int milliseconds, const QEasingCurve& curve,
                            const QString& name) {
  if (milliseconds <= 0 || !target->isVisible()) return nullptr;
  auto* fade = new CrossFade(target, target->grab());
  fade->animation_ = new QVariantAnimation(fade);
  fade->animation_->setObjectName(name);
  fade->animation_->setDuration(milliseconds);
  fade->animation_->setEasingCurve(curve);
  fade->animation_->setStartValue(1.0);
  fade->animation_->setEndValue(0.0);
  connect(fade->animation_, &QVariantAnimation::valueChanged, fade, [fade](const QVariant& value) {
    fade->opacity_ = value.toDouble();
    fade->update();
  });
  connect(fade->animation_, &QVariantAnimation::finished, fade, &QObject::deleteLater);
  fade->show();
  fade->raise();
  fade->animation_->start();
  return fade;
}

void CrossFade::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setOpacity(opacity_);
  painter.drawPixmap(0, 0, look_);
}

}  // namespace quorvelle
