#include "program/DesktopPopup.h"

#include <QAbstractEventDispatcher>
#include <stdexcept>

#include "app/PopupView.h"
#include "platform/linux/desktop/QtPopupPanel.h"
#include "platform/linux/desktop/X11CompositorWatch.h"

namespace quorvelle {

DesktopPopup::DesktopPopup(platform::QtPopupPanel& panel, PopupController::Services services,
                           platform::X11Connection* x11)
    : panel_(panel) {
  // A controller driving one panel while the view sits in another would size and place an empty window.
  if (&services.panel != &panel)
    throw std::invalid_argument("DesktopPopup: the controller must drive the panel");
  controller_ = PopupController::create(services);
  if (x11) {
    compositor_ = std::make_unique<platform::X11CompositorWatch>(*x11, [this](bool compositing) {
      if (auto* view = panel_.window()->findChild<PopupView*>()) view->setTranslucent(compositing);
    });
  }
  // Just before the loop first waits for events: after the toolkit has flushed what start-up drew (the
  // tray icon among it), so that building the view delays nothing the user sees.
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    whenIdle_ =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] { buildView(); });
  } else {
    buildView();
  }
}

DesktopPopup::~DesktopPopup() {
  QObject::disconnect(whenIdle_);
  controller_->dismiss();
  // The view watches the controller's model.
  panel_.setContent(nullptr);
}

void DesktopPopup::buildView() {
  QObject::disconnect(whenIdle_);
  if (viewBuilt_) return;
  viewBuilt_ = true;
  auto* view = new PopupView(controller_->model(), controller_->viewCallbacks());
  if (compositor_) view->setTranslucent(compositor_->isCompositing());
  panel_.setContent(view);
}

void DesktopPopup::show(const std::string& text, PopupMode mode) {
  buildView();
  controller_->show(text, mode);
}

void DesktopPopup::showQuickTranslate() {
  buildView();
  controller_->showQuickTranslate();
}

void DesktopPopup::showError(const std::string& text, PopupMode mode, const std::string& message) {
  controller_->showError(text, mode, message);
}

}  // namespace quorvelle
