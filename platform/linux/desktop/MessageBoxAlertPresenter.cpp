#include "platform/linux/desktop/MessageBoxAlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <vector>

namespace platform {
namespace {

QMessageBox::Icon iconFor(Alert::Style style) {
  switch (style) {
    case Alert::Style::informational:
      return QMessageBox::Information;
    case Alert::Style::critical:
      return QMessageBox::Critical;
    case Alert::Style::warning:
      break;
  }
  return QMessageBox::Warning;
}

}  // namespace

AlertPresenter::ModalResponse MessageBoxAlertPresenter::runModal(const Alert& alert, QWidget* parentWindow) {
  QMessageBox box(parentWindow);
  box.setIcon(iconFor(alert.style));
  box.setText(QString::fromStdString(alert.messageText));
  if (!alert.informativeText.empty()) box.setInformativeText(QString::fromStdString(alert.informativeText));
  box.setWindowModality(parentWindow != nullptr ? Qt::WindowModal : Qt::ApplicationModal);

  std::vector<std::string> titles = alert.buttonTitles;
  if (titles.empty()) titles.push_back(QMessageBox::tr("OK").toStdString());
  // One role for every button: the dialog button box then keeps the order in which they were added
  // instead of sorting them by role for the desktop's style.
  std::vector<QPushButton*> buttons;
  for (const auto& title : titles) {
    buttons.push_back(box.addButton(QString::fromStdString(title), QMessageBox::ActionRole));
  }
  box.setDefaultButton(buttons.front());
  box.setEscapeButton(buttons.front());

  box.exec();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (box.clickedButton() == buttons[i]) return kFirstButtonReturn + static_cast<ModalResponse>(i);
  }
  return kFirstButtonReturn;
}

}  // namespace platform
