#include "platform/linux/desktop/QtMenuTracking.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <vector>

namespace platform {

QtMenuTracking::QtMenuTracking() {
  if (auto* app = QCoreApplication::instance()) app->installEventFilter(this);
}

QtMenuTracking::~QtMenuTracking() {
  if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

MenuTracking::ObserverId QtMenuTracking::addObserver(Observer observer) {
  observers_[++lastId_] = std::make_shared<Observer>(std::move(observer));
  return lastId_;
}

void QtMenuTracking::removeObserver(ObserverId id) {
  observers_.erase(id);
}

bool QtMenuTracking::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (type == QEvent::Show && qobject_cast<QMenu*>(watched) != nullptr && !openMenus_.contains(watched)) {
    openMenus_.insert(watched);
    connect(watched, &QObject::destroyed, this, [this](QObject* menu) { menuClosed(menu); });
    if (openMenus_.size() == 1) notify(Event::didBeginTracking);
  } else if (type == QEvent::Hide) {
    menuClosed(watched);
  }
  return false;
}

void QtMenuTracking::menuClosed(QObject* menu) {
  if (openMenus_.erase(menu) == 0) return;
  disconnect(menu, &QObject::destroyed, this, nullptr);
  if (openMenus_.empty()) notify(Event::didEndTracking);
}

void QtMenuTracking::notify(Event event) {
  std::vector<std::pair<ObserverId, std::shared_ptr<Observer>>> copy(observers_.begin(), observers_.end());
  for (const auto& [id, observer] : copy) {
    // One removed by an earlier observer is not called again.
    if (observers_.contains(id)) (*observer)(event);
  }
}

}  // namespace platform
