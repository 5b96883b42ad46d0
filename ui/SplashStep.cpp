#include "ui/SplashStep.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace quorvelle {

SplashStep::SplashStep(std::function<void()> onDone, platform::MainExecutor& executor, QWidget* parent)
    : QWidget(parent), onDone_(std::move(onDone)), executor_(executor) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(20);
  layout->addStretch(1);
  icon_ = new QLabel(this);
  icon_->setFixedSize(kIconSize, kIconSize);
  icon_->setPixmap(QApplication::windowIcon().pixmap(kIconSize, kIconSize));
  icon_->setAlignment(Qt::AlignCenter);
  layout->addWidget(icon_, 0, Qt::AlignHCenter);
  name_ = new QLabel(QStringLiteral("Quorvelle"), this);
  QFont font = name_->font();
  font.setPixelSize(kNameSize);
  font.setBold(true);
  name_->setFont(font);
  name_->setAlignment(Qt::AlignCenter);
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
  timer_ = executor_.postAfter(kDelay, [this] {
    if (onDone_) onDone_();
  });
}

void SplashStep::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onDone_) {
    onDone_();
  }
}

}  // namespace quorvelle
