#include "program/DesktopPopup.h"

#include <stdexcept>

#include "app/PopupView.h"
#include "platform/linux/desktop/QtPopupPanel.h"

namespace quorvelle {

DesktopPopup::DesktopPopup(platform::QtPopupPanel& panel, PopupController::Services services)
    : panel_(panel) {
  // A controller driving one panel while the view sits in another would size and place an empty window.
  if (&services.panel != &panel)
    throw std::invalid_argument("DesktopPopup: the controller must drive the panel");
  controller_ = PopupController::create(services);
  panel_.setContent(new PopupView(controller_->model(), controller_->viewCallbacks()));
}

DesktopPopup::~DesktopPopup() {
  controller_->dismiss();
  // The view watches the controller's model.
  panel_.setContent(nullptr);
}

void DesktopPopup::show(const std::string& text, PopupMode mode) {
  controller_->show(text, mode);
}

void DesktopPopup::showQuickTranslate() {
  controller_->showQuickTranslate();
}

void DesktopPopup::showError(const std::string& text, PopupMode mode, const std::string& message) {
  controller_->showError(text, mode, message);
}

}  // namespace quorvelle
