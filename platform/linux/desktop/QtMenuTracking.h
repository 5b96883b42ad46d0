#pragma once

#include <QObject>
#include <map>
#include <memory>
#include <set>

#include "platform/MenuTracking.h"

namespace platform {

// Menu tracking for Qt menus: a filter on the application's events sees every QMenu of this process (the
// tray menu, context menus, submenus) being shown and hidden. Tracking begins when the first menu opens
// and ends when the last one closes, so that moving into a submenu is not an end. Observers are called on
// the main thread.
//
// Create it on the main thread after the QApplication; it stops watching when destroyed.
class QtMenuTracking final : public QObject, public MenuTracking {
 public:
  QtMenuTracking();
  ~QtMenuTracking() override;

  ObserverId addObserver(Observer observer) override;
  void removeObserver(ObserverId id) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void notify(Event event);

  ObserverId lastId_ = 0;
  std::map<ObserverId, std::shared_ptr<Observer>> observers_;
  void menuClosed(QObject* menu);

  // Open menus, by identity: a menu destroyed while open (whose Hide comes, if at all, when it is no
  // longer a QMenu) must still end the tracking.
  std::set<QObject*> openMenus_;
};

}  // namespace platform
