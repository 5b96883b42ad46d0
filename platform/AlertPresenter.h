#pragma once

#include <string>
#include <vector>

// Windows are Qt widgets; only a pointer crosses this interface, so the header needs no Qt.
class QWidget;

namespace platform {

// A modal alert with up to a few buttons, as settings and the shortcut recorder ask questions.
struct Alert {
  enum class Style { informational, warning, critical };

  std::string messageText;      // the title line
  std::string informativeText;  // smaller text below it; empty for none
  // In the order given; the first is the default (Return) and the Escape answer. Empty: one "OK" button.
  std::vector<std::string> buttonTitles;
  Style style = Style::warning;
};

// Shows an alert and waits for the answer: 1000 for the first button, 1001 for the second, and so on.
// With a parent window the alert is modal to that window and placed over it; without one it is
// application-modal. Main thread only; runs a nested event loop until the user answers.
class AlertPresenter {
 public:
  using ModalResponse = long;
  static constexpr ModalResponse kFirstButtonReturn = 1000;
  static constexpr ModalResponse kSecondButtonReturn = 1001;
  static constexpr ModalResponse kThirdButtonReturn = 1002;

  virtual ~AlertPresenter() = default;
  virtual ModalResponse runModal(const Alert& alert, QWidget* parentWindow) = 0;
};

}  // namespace platform
