#include "ui/SplashStep.h"

#include <algorithm>

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace quorvelle {

SplashStep::SplashStep(std::function<void()> onDone, platform::MainExecutor& executor, int appearMs,
                       QWidget* parent)
    : QWidget(parent), onDone_(std::move(onDone)), executor_(executor), appearMs_(appearMs) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(20);
  layout->addStretch(1);
  icon_ = new QLabel(this);
  icon_->setFixedSize(kIconSize, kIconSize);
  iconPicture_ = QApplication::windowIcon().pixmap(kIconSize, kIconSize);
  icon_->setPixmap(iconPicture_);
  icon_->setAlignment(Qt::AlignCenter);
  layout->addWidget(icon_, 0, Qt::AlignHCenter);
  name_ = new QLabel(QStringLiteral("Quorvelle"), this);
  QFont font = name_->font();
  font.setPixelSize(kNameSize);
  font.setBold(true);
  name_->setFont(font);
  name_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  // Room for the name to rise into place.
  name_->setFixedHeight(name_->sizeHint().height() + kNameDrop);
  layout->addWidget(name_, 0, Qt::AlignHCenter);
  layout->addStretch(1);
  // Clicks on the icon and the name count as clicks on the page.
  icon_->setAttribute(Qt::WA_TransparentForMouseEvents);
  name_->setAttribute(Qt::WA_TransparentForMouseEvents);
}

SplashStep::~SplashStep() {
  timer_.cancel();
}

void SplashStep::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (scheduled_) return;
  scheduled_ = true;
  if (appearMs_ > 0) {
    // Icon and name grow, fade in and move into place together, with a little overshoot.
    auto* appear = new QVariantAnimation(this);
    appear->setDuration(appearMs_);
    appear->setStartValue(0.0);
    appear->setEndValue(1.0);
    appear->setEasingCurve(QEasingCurve::OutBack);
    connect(appear, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setAppearance(value.toDouble()); });
    setAppearance(0);
    appear->start(QAbstractAnimation::DeleteWhenStopped);
  }
  timer_ = executor_.postAfter(kDelay, [this] {
    if (onDone_) onDone_();
  });
}

void SplashStep::setAppearance(double progress) {
  const double opacity = std::clamp(progress, 0.0, 1.0);
  for (QLabel* label : {icon_, name_}) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(label->graphicsEffect());
    if (!effect) {
      effect = new QGraphicsOpacityEffect(label);
      label->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
  }
  const int side = std::max(1, qRound(kIconSize * (kHiddenScale + (1 - kHiddenScale) * progress)));
  icon_->setPixmap(iconPicture_.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  // Up into place from 10 points below.
  const int drop = qRound(kNameDrop * (1 - opacity));
  name_->setContentsMargins(0, drop, 0, 0);
  if (progress >= 1.0) {
    for (QLabel* label : {icon_, name_}) label->setGraphicsEffect(nullptr);
    icon_->setPixmap(iconPicture_);
  }
}

void SplashStep::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onDone_) {
    onDone_();
  }
}

}  // namespace quorvelle
