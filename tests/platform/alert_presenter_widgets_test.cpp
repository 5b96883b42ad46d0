#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "platform/fake/ScriptedAlertPresenter.h"
#include "platform/linux/desktop/MessageBoxAlertPresenter.h"

using platform::Alert;
using platform::AlertPresenter;

namespace {
Alert titleOnly(const char* title) {
  Alert alert;
  alert.messageText = title;
  return alert;
}
}  // namespace

TEST(ScriptedAlertPresenter, AnswersInOrderThenFirstButtonAndRecords) {
  platform::fake::ScriptedAlertPresenter presenter;
  presenter.enqueueResponse(AlertPresenter::kSecondButtonReturn);
  QWidget window;
  const Alert warn{"Shortcut used by the system", "Shortcuts can be changed", {"OK", "Use anyway"}};

  EXPECT_EQ(presenter.runModal(warn, &window), AlertPresenter::kSecondButtonReturn);
  EXPECT_EQ(presenter.runModal(titleOnly("Blocked"), nullptr), AlertPresenter::kFirstButtonReturn);
  ASSERT_EQ(presenter.shown().size(), 2u);
  EXPECT_EQ(presenter.shown()[0].alert.informativeText, "Shortcuts can be changed");
  EXPECT_EQ(presenter.shown()[0].alert.buttonTitles, (std::vector<std::string>{"OK", "Use anyway"}));
  EXPECT_EQ(presenter.shown()[0].parentWindow, &window);
  EXPECT_EQ(presenter.shown()[1].alert.messageText, "Blocked");
  EXPECT_EQ(presenter.shown()[1].parentWindow, nullptr);
}

namespace {

// Acts on the message box once it is up, from inside its modal loop. Each timer shot owns a copy of the
// step it runs next: a step that held itself would never be freed.
struct WhenShown {
  std::function<void(QMessageBox&)> act;
  void operator()() const {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
        act(*box);
        return;
      }
    }
    QTimer::singleShot(10, WhenShown{act});
  }
};

void whenShown(std::function<void(QMessageBox&)> act) {
  QTimer::singleShot(0, WhenShown{std::move(act)});
}

}  // namespace

TEST(MessageBoxAlertPresenter, ButtonsKeepTheirOrderAndAnswerByPosition) {
  platform::MessageBoxAlertPresenter presenter;
  QWidget window;
  window.show();

  QStringList titles;
  QString text, informative;
  whenShown([&](QMessageBox& box) {
    text = box.text();
    informative = box.informativeText();
    for (auto* button : box.buttons()) titles << button->text();
    box.buttons().at(1)->click();
  });
  const Alert alert{"Used by a menu item", "Pick another", {"OK", "Use anyway"}};
  EXPECT_EQ(presenter.runModal(alert, &window), AlertPresenter::kSecondButtonReturn);
  EXPECT_EQ(text, "Used by a menu item");
  EXPECT_EQ(informative, "Pick another");
  EXPECT_EQ(titles, (QStringList{"OK", "Use anyway"}));

  // Escape answers the first (safe) button; an alert without buttons gets one.
  int buttonCount = 0;
  whenShown([&](QMessageBox& box) {
    buttonCount = static_cast<int>(box.buttons().size());
    box.reject();
  });
  EXPECT_EQ(presenter.runModal(titleOnly("Not allowed"), nullptr), AlertPresenter::kFirstButtonReturn);
  EXPECT_EQ(buttonCount, 1);
}
