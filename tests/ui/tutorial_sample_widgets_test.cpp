// The tutorial's practice field: its size, its two looks and the fixed word.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "ui/TutorialSample.h"

namespace quorvelle {
namespace {

using Editing = TutorialSample::Editing;

TEST(TutorialSampleTest, HeightFollowsTheLinesWhateverTheTextAndLongTextNeverScrolls) {
  const QString longText = QString("a rather long practice sentence ").repeated(20);
  struct Case {
    int lines;
    int height;
  };
  for (const Case c : {Case{1, 44}, Case{2, 67}}) {
    SCOPED_TRACE(c.lines);
    TutorialSample field(longText, Editing::editable, c.lines);
    field.resize(300, 500);
    field.show();
    ASSERT_TRUE(quorvelle::test::waitUntilExposed(&field));
    EXPECT_EQ(field.height(), c.height);
    field.moveCursor(QTextCursor::End);
    QTest::keyClicks(&field, "more");
    EXPECT_EQ(field.verticalScrollBar()->value(), 0);
  }
}

TEST(TutorialSampleTest, PendingLookBreathesAndDoneLookIsSolidGreen) {
  TutorialSample field("serendipity", Editing::fixed, 1);
  const QColor accent = field.palette().color(QPalette::Highlight);

  EXPECT_EQ(field.fillColor().rgb(), accent.rgb());
  EXPECT_NEAR(field.fillColor().alphaF(), 0.12, 0.01);
  QPen pen = field.borderPen();
  EXPECT_EQ(pen.style(), Qt::CustomDashLine);
  EXPECT_DOUBLE_EQ(pen.dashPattern()[0] * pen.widthF(), 6);
  EXPECT_DOUBLE_EQ(pen.dashPattern()[1] * pen.widthF(), 4);
  EXPECT_NEAR(pen.color().alphaF(), 0.35, 0.01);
  field.setPulse(1);
  EXPECT_NEAR(field.borderPen().color().alphaF(), 0.9, 0.01);

  field.setDone(true);
  EXPECT_EQ(field.fillColor().rgb(), TutorialSample::doneColor().rgb());
  pen = field.borderPen();
  EXPECT_EQ(pen.style(), Qt::SolidLine);
  EXPECT_EQ(pen.color().rgb(), TutorialSample::doneColor().rgb());
  EXPECT_NEAR(pen.color().alphaF(), 0.7, 0.01);
  field.setPulse(0);
  EXPECT_NEAR(field.borderPen().color().alphaF(), 0.7, 0.01) << "done no longer breathes";
}

TEST(TutorialSampleTest, TheFixedWordSurvivesTypingAndPastingButCanBeSelected) {
  TutorialSample field("serendipity", Editing::fixed, 1);
  field.show();
  ASSERT_TRUE(quorvelle::test::waitUntilExposed(&field));
  field.setFocus();
  QTest::keyClicks(&field, "abc");
  QTest::keyClick(&field, Qt::Key_Backspace);
  QApplication::clipboard()->setText("pasted");
  QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field.toPlainText(), "serendipity");

  QTest::keyClick(&field, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(field.textCursor().selectedText(), "serendipity");
}

TEST(TutorialSampleTest, AnEditableDraftTakesEdits) {
  TutorialSample field("draft", Editing::editable, 2);
  field.show();
  field.setFocus();
  field.moveCursor(QTextCursor::End);
  QTest::keyClicks(&field, "!");
  EXPECT_EQ(field.toPlainText(), "draft!");
}

}  // namespace
}  // namespace quorvelle
