#pragma once

#include "platform/AlertPresenter.h"

namespace platform {

// Alerts as QMessageBox dialogs: window-modal over the parent window when there is one (the closest
// thing to a sheet), application-modal otherwise. Buttons keep the order given. Main thread only.
class MessageBoxAlertPresenter final : public AlertPresenter {
 public:
  ModalResponse runModal(const Alert& alert, QWidget* parentWindow) override;
};

}  // namespace platform
