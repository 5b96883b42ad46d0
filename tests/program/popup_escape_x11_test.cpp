// Escape closes the translate and refine popups, which leave the keyboard with the application the user
// types in: the program watches the key without taking it, so that application still gets it.

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QObject>

#include "tests/program/ProgramX11Test.h"
#include "tests/support/Eventually.h"

namespace {

using namespace quorvelle::test;

// Counts the Escape presses that reach a widget.
class EscapeCounter final : public QObject {
 public:
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) ++count;
    return QObject::eventFilter(watched, event);
  }
};

TEST_F(ProgramX11Test, EscapeClosesTranslateAndRefineAndStillReachesTheApplication) {
  const QString text = "hello there";
  QLineEdit* field = openTextWindow(text);
  ASSERT_NE(field, nullptr);
  EscapeCounter escapes;
  field->installEventFilter(&escapes);

  for (const char* hotKey : {"alt+t", "alt+r"}) {
    SCOPED_TRACE(hotKey);
    const int before = escapes.count;
    ASSERT_NO_FATAL_FAILURE(selectAllAndPress(text, hotKey));
    ASSERT_TRUE(waitForPopup()) << "no popup mapped";
    ASSERT_TRUE(field->hasFocus()) << "the popup took the keyboard";
    xdotool({"key", "Escape"});
    EXPECT_TRUE(waitForNoPopup()) << "Escape did not close the popup";
    EXPECT_TRUE(waitUntil([&] { return escapes.count == before + 1; }, "the field gets the Escape"));
  }
}

}  // namespace
