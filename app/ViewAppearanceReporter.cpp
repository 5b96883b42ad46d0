#include "app/ViewAppearanceReporter.h"

#include <QEvent>
#include <typeinfo>
#include <utility>

namespace quorvelle {

ViewAppearanceReporter::ViewAppearanceReporter(QWidget* widget, bool screenEvent,
                                               std::optional<std::string> name,
                                               std::optional<dizizoz::Properties> properties,
                                               std::shared_ptr<dizizoz::DiziZozSDK> client)
    : QObject(widget),
      widget_(widget),
      screenEvent_(screenEvent),
      name_(std::move(name)),
      properties_(std::move(properties)),
      client_(std::move(client)) {
  widget->installEventFilter(this);
}

ViewAppearanceReporter* ViewAppearanceReporter::screenView(QWidget* widget,
                                                           std::optional<std::string> screenName,
                                                           std::optional<dizizoz::Properties> properties,
                                                           std::shared_ptr<dizizoz::DiziZozSDK> client) {
  if (!widget) return nullptr;
  return new ViewAppearanceReporter(widget, true, std::move(screenName), std::move(properties),
                                    std::move(client));
}

ViewAppearanceReporter* ViewAppearanceReporter::viewSeen(QWidget* widget, std::string eventName,
                                                         std::optional<dizizoz::Properties> properties,
                                                         std::shared_ptr<dizizoz::DiziZozSDK> client) {
  if (!widget) return nullptr;
  return new ViewAppearanceReporter(widget, false, std::move(eventName), std::move(properties),
                                    std::move(client));
}

bool ViewAppearanceReporter::eventFilter(QObject* watched, QEvent* event) {
  // A spontaneous show is the window system restoring a window the application had already shown.
  if (widget_ && watched == widget_ && event->type() == QEvent::Show && !event->spontaneous()) {
    if (!modifier_) {
      const QWidget& widget = *widget_;
      modifier_ = screenEvent_ ? dizizoz::diziZozScreenView(typeid(widget), name_, properties_, client_)
                               : dizizoz::diziZozViewSeen(name_.value_or(""), properties_, client_);
    }
    modifier_->onAppear();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace quorvelle
