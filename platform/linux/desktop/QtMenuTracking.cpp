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
  if ((type == QEvent::Show || type == QEvent::Hide) && qobject_cast<QMenu*>(watched) != nullptr) {
    if (type == QEvent::Show && ++openMenus_ == 1) notify(Event::didBeginTracking);
    if (type == QEvent::Hide && openMenus_ > 0 && --openMenus_ == 0) notify(Event::didEndTracking);
  }
  return false;
}

void QtMenuTracking::notify(Event event) {
  std::vector<std::pair<ObserverId, std::shared_ptr<Observer>>> copy(observers_.begin(), observers_.end());
  for (const auto& [id, observer] : copy) {
    // One removed by an earlier observer is not called again.
    if (observers_.contains(id)) (*observer)(event);
  }
}

}  // namespace platform
