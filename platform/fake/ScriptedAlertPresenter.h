#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "platform/AlertPresenter.h"

namespace platform::fake {

// Answers alerts from a queue of responses the test sets up, and records every alert it was asked to
// show. With the queue empty it answers the first button, as pressing Return would. A test that needs to
// look around while an alert is up sets whileShown, which runs before the answer. Main thread only.
class ScriptedAlertPresenter final : public AlertPresenter {
 public:
  struct Shown {
    Alert alert;
    QWidget* parentWindow;
  };

  void enqueueResponse(ModalResponse response) { responses_.push_back(response); }
  std::function<void(const Alert&)> whileShown;
  const std::vector<Shown>& shown() const noexcept { return shown_; }

  ModalResponse runModal(const Alert& alert, QWidget* parentWindow) override;

 private:
  std::deque<ModalResponse> responses_;
  std::vector<Shown> shown_;
};

}  // namespace platform::fake
