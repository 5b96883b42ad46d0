// The tutorial pages in real widgets over fakes, with the shortcuts package's real recorders.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>

#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "app/AppNotifications.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/ui/TutorialWorld.h"
#include "ui/AnimationView.h"
#include "ui/TutorialSample.h"
#include "ui/TutorialStep.h"

namespace quorvelle {
namespace {

using Action = TutorialAction;

struct TutorialStepWidgetsTest : testing::Test, test::TutorialWorld {
  void show(QWidget& page) {
    page.show();
    ASSERT_TRUE(quorvelle::test::waitUntilExposed(&page));
    env.executor.runUntilIdle();
  }
};

TEST_F(TutorialStepWidgetsTest, EveryPagePendingThenDone) {
  storeKey();
  struct Case {
    Action action;
    const char* title;
    std::string_view notification;
    bool hasSample;
    bool hasAnimation;
    int sampleHeight;
  };
  const Case cases[] = {
      {Action::translate, "Translate a word", notifications::kDidTranslateSelection, true, true, 44},
      {Action::quickTranslate, "Type to translate", notifications::kDidOpenQuickTranslate, false, false, 0},
      {Action::refine, "Fix a rough draft", notifications::kDidReplaceRefined, true, true, 67},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    done = false;
    TutorialStep page(c.action, "en", done, services, analytics);
    ASSERT_NO_FATAL_FAILURE(show(page));
    EXPECT_EQ(page.title()->text(), c.title);
    EXPECT_EQ(page.animation() != nullptr, c.hasAnimation);
    ASSERT_EQ(page.sample() != nullptr, c.hasSample);
    ASSERT_NE(page.recorder(), nullptr);
    EXPECT_TRUE(page.recorder()->isVisible());
    EXPECT_EQ(page.statusSymbol()->objectName(), "circle.dashed");
    if (c.hasSample) {
      EXPECT_EQ(page.sample()->height(), c.sampleHeight);
      EXPECT_FALSE(page.sample()->done());
    }

    env.notifications.post(std::string(c.notification));
    EXPECT_TRUE(done);
    EXPECT_EQ(page.statusSymbol()->objectName(), "checkmark.circle.fill");
    if (c.hasSample) {
      EXPECT_TRUE(page.sample()->done());
    }
  }
}

TEST_F(TutorialStepWidgetsTest, AnimationsHaveThePagesFrames) {
  storeKey();
  TutorialStep translate(Action::translate, "en", done, services, analytics);
  TutorialStep refine(Action::refine, "en", done, services, analytics);
  EXPECT_EQ(translate.animation()->size(), QSize(443, 310));
  EXPECT_EQ(refine.animation()->size(), QSize(465, 310));
  EXPECT_TRUE(translate.animation()->isLoaded());
  EXPECT_TRUE(refine.animation()->isLoaded());
}

TEST_F(TutorialStepWidgetsTest, TypingLeavesTheWordAndTheDraftTakesEdits) {
  storeKey();
  TutorialStep translate(Action::translate, "en", done, services, analytics);
  ASSERT_NO_FATAL_FAILURE(show(translate));
  translate.sample()->setFocus();
  QTest::keyClicks(translate.sample(), "xyz");
  EXPECT_EQ(translate.sample()->toPlainText(), "serendipity");

  TutorialStep refine(Action::refine, "fr", done, services, analytics);
  ASSERT_NO_FATAL_FAILURE(show(refine));
  EXPECT_EQ(refine.sample()->toPlainText().toStdString(), TutorialStep::refineSample("fr"));
  refine.sample()->selectAll();
  QTest::keyClicks(refine.sample(), "Je dois corriger ce texte.");
  EXPECT_EQ(refine.model().sample(), "Je dois corriger ce texte.");
}

TEST_F(TutorialStepWidgetsTest, ClearingTheShortcutReportsIt) {
  analytics.setUp();
  client.captures.clear();
  storeKey();
  TutorialStep page(Action::refine, "en", done, services, analytics);
  ASSERT_NO_FATAL_FAILURE(show(page));
  page.recorder()->field().clearButton()->trigger();
  env.executor.runUntilIdle();
  ASSERT_EQ(client.captures.size(), 1u);
  EXPECT_EQ(client.captures[0].event, "onboarding_hotkey_customized");
  EXPECT_EQ(client.captures[0].properties, (dizizoz::Properties{{"action", "refine"}}));
}

TEST_F(TutorialStepWidgetsTest, KeyPromptAddSaveAndRefusal) {
  TutorialStep page(Action::refine, "en", done, services, analytics);
  ASSERT_NO_FATAL_FAILURE(show(page));
  ASSERT_TRUE(page.keyPrompt()->isVisible());
  EXPECT_FALSE(page.sample()->isVisible());
  QTest::mouseClick(page.addKeyButton(), Qt::LeftButton);
  ASSERT_TRUE(page.keyField()->isVisible());
  EXPECT_EQ(page.keyField()->placeholderText(), QString::fromUtf8("AIza\u2026"));
  EXPECT_EQ(page.keyField()->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(page.saveKeyButton()->isEnabled());

  QTest::keyClicks(page.keyField(), "   ");
  EXPECT_FALSE(page.saveKeyButton()->isEnabled());
  QTest::keyClick(page.keyField(), Qt::Key_Return);
  env.executor.runUntilIdle();
  EXPECT_EQ(storedKey(), std::nullopt);

  // A refused save keeps the form, the typed key and says why.
  page.keyField()->clear();
  QTest::keyClicks(page.keyField(), " AIzaTyped ");
  secrets.setFailing(true);
  QTest::mouseClick(page.saveKeyButton(), Qt::LeftButton);
  env.executor.runUntilIdle();
  EXPECT_TRUE(page.keyField()->isVisible());
  EXPECT_EQ(page.keyField()->text(), " AIzaTyped ");
  EXPECT_TRUE(page.keyMessage()->isVisible());
  EXPECT_EQ(page.keyMessage()->text().toStdString(), GeminiKeyManager::kSaveFailed);

  secrets.setFailing(false);
  QTest::keyClick(page.keyField(), Qt::Key_Return);
  env.executor.runUntilIdle();
  EXPECT_EQ(storedKey(), "AIzaTyped");
  EXPECT_FALSE(page.keyPrompt()->isVisible());
  EXPECT_TRUE(page.sample()->isVisible());
  EXPECT_EQ(page.sample()->toPlainText().toStdString(), TutorialStep::refineSample("en"));

  page.keyLink()->linkActivated("key");
  EXPECT_EQ(workspace.openedURLs.size(), 1u);
}

}  // namespace
}  // namespace quorvelle
