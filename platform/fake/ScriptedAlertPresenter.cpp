#include "platform/fake/ScriptedAlertPresenter.h"

namespace platform::fake {

AlertPresenter::ModalResponse ScriptedAlertPresenter::runModal(const Alert& alert, QWidget* parentWindow) {
  shown_.push_back({alert, parentWindow});
  if (whileShown) whileShown(alert);
  if (responses_.empty()) return kFirstButtonReturn;
  const ModalResponse response = responses_.front();
  responses_.pop_front();
  return response;
}

}  // namespace platform::fake
