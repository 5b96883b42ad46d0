// The onboarding window walked through as a user would: every page, the bottom bar, cards, the
// permission's states, the tutorial pages and Return.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "GlobalShortcuts/Recorder.h"
#include "app/AppNotifications.h"
#include "app/Language.h"
#include "platform/linux/desktop/QtAppWindowHost.h"
#include "tests/ui/OnboardingWorld.h"
#include "ui/ChoiceCard.h"
#include "ui/OnboardingView.h"
#include "ui/SplashStep.h"
#include "ui/TutorialSample.h"
#include "ui/TutorialStep.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using Step = OnboardingStep;

struct OnboardingWidgetsTest : testing::Test {
  test::OnboardingWorld w;
  int finishes = 0;
  std::unique_ptr<OnboardingView> view;

  void make() {
    view = std::make_unique<OnboardingView>(
        OnboardingView::Services{w.services, w.analytics, w.selection, w.relauncher, w.shell, w.hotkeys()},
        [this] { ++finishes; });
    view->setTransitionDuration(0);
    view->show();
  }
  void advance(std::chrono::milliseconds d) {
    w.env.executor.advance(d);
    QApplication::processEvents();
  }
  void post(std::string_view name) {
    w.env.notifications.post(std::string(name));
    QApplication::processEvents();
  }
  void pressReturn(QWidget* target) {
    QTest::keyClick(target, Qt::Key_Return);
    QApplication::processEvents();
  }
  // A click in the card's empty part, near its right edge.
  static void clickCard(ChoiceCard* card) {
    ASSERT_NE(card, nullptr);
    QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(card->width() - 8, card->height() / 2));
  }
  bool visible(QWidget* widget) const { return widget && widget->isVisibleTo(view.get()); }
};

TEST_F(OnboardingWidgetsTest, WalkingThroughEveryPageWithoutThePermission) {
  w.accessibility.trusted = false;
  w.analytics.setUp();
  make();
  EXPECT_EQ(view->size(), QSize(720, 620));
  EXPECT_EQ(w.events(), (std::vector<std::string>{"onboarding_started"}));
  // Each time the window comes on screen again.
  view->hide();
  view->show();
  EXPECT_EQ(w.events(), (std::vector<std::string>{"onboarding_started", "onboarding_started"}));

  // Splash: no bottom bar; it leaves by itself after 1.8 s.
  auto* splash = dynamic_cast<SplashStep*>(view->page());
  ASSERT_NE(splash, nullptr);
  EXPECT_FALSE(visible(view->bottomBar()));
  EXPECT_EQ(splash->icon()->size(), QSize(128, 128));
  EXPECT_EQ(splash->name()->text(), "Quorvelle");
  EXPECT_EQ(splash->name()->font().pixelSize(), 34);
  EXPECT_TRUE(splash->name()->font().bold());
  advance(1799ms);
  EXPECT_EQ(view->flow().step(), Step::splash);
  advance(1ms);
  ASSERT_EQ(view->flow().step(), Step::language);

  // Language: no Back; six dots with the first highlighted; 21 cards three to a row.
  EXPECT_TRUE(visible(view->bottomBar()));
  EXPECT_FALSE(visible(view->backButton()));
  EXPECT_EQ(view->dotSteps().size(), 6u);
  EXPECT_EQ(view->highlightedDot(), Step::language);
  ChoiceCard* first = view->languageCard("ru");
  ChoiceCard* third = view->languageCard("es");
  ChoiceCard* fourth = view->languageCard("fr");
  ASSERT_TRUE(first && third && fourth);
  EXPECT_EQ(first->y(), third->y());
  EXPECT_GT(fourth->y(), first->y());
  EXPECT_EQ(fourth->x(), first->x());
  EXPECT_TRUE(first->isSelected());  // the system's language ("en-US" has none: Russian)
  EXPECT_EQ(first->leading(), QString::fromStdString(Language::find("ru")->flag));
  EXPECT_EQ(first->verticalPadding(), 12);
  EXPECT_TRUE(view->continueButton()->isEnabled());

  // A card near the end, then back to the page: it is selected and in view.
  view->languageScroll()->ensureWidgetVisible(view->languageCard("zh-CN"));
  clickCard(view->languageCard("zh-CN"));
  EXPECT_TRUE(view->languageCard("zh-CN")->isSelected());
  EXPECT_FALSE(first->isSelected());
  advance(250ms);
  ASSERT_EQ(view->flow().step(), Step::purpose);
  QTest::mouseClick(view->backButton(), Qt::LeftButton);
  ASSERT_EQ(view->flow().step(), Step::language);
  QApplication::processEvents();
  QScrollArea* scroll = view->languageScroll();
  ChoiceCard* chinese = view->languageCard("zh-CN");
  ASSERT_TRUE(scroll && chinese && chinese->isSelected());
  const QRect inView(chinese->mapTo(scroll->viewport(), QPoint(0, 0)), chinese->size());
  EXPECT_TRUE(scroll->viewport()->rect().contains(inView)) << inView.y();
  QTest::mouseClick(view->continueButton(), Qt::LeftButton);

  // Purpose: Back, Continue off until a choice, the Part's three cards with symbols and details.
  ASSERT_EQ(view->flow().step(), Step::purpose);
  EXPECT_TRUE(visible(view->backButton()));
  EXPECT_FALSE(view->continueButton()->isEnabled());
  ChoiceCard* reading = view->purposeCard("reading");
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(reading->leading(), "book");
  EXPECT_EQ(reading->titleLabel()->text(), "Reading");
  EXPECT_EQ(reading->detailLabel()->text(), "Understand English while I read \u2014 articles, docs, chats");
  EXPECT_EQ(reading->verticalPadding(), 14);
  EXPECT_EQ(view->purposeCard("writing")->leading(), "wand.and.stars");
  EXPECT_EQ(view->purposeCard("both")->leading(), "sparkles");
  EXPECT_LE(reading->width(), 520);
  clickCard(view->purposeCard("writing"));
  EXPECT_TRUE(view->continueButton()->isEnabled());
  advance(250ms);

  // Accessibility: Allow, then the red instructions and the relaunch hint when the settings cannot open.
  ASSERT_EQ(view->flow().step(), Step::accessibility);
  EXPECT_EQ(view->highlightedDot(), Step::accessibility);
  EXPECT_TRUE(visible(view->allowButton()));
  EXPECT_FALSE(visible(view->trustedMark()));
  EXPECT_FALSE(visible(view->accessibilityError()));
  EXPECT_FALSE(visible(view->relaunchHint()));
  EXPECT_FALSE(view->continueButton()->isEnabled());
  w.accessibility.urlOpens = false;
  QTest::mouseClick(view->allowButton(), Qt::LeftButton);
  EXPECT_TRUE(visible(view->accessibilityError()));
  EXPECT_TRUE(visible(view->relaunchHint()));
  // Granted: the check mark, no hints, the dot gone (none highlighted) and Continue, still on the step.
  w.accessibility.trusted = true;
  advance(1s);
  EXPECT_EQ(view->flow().step(), Step::accessibility);
  EXPECT_TRUE(visible(view->trustedMark()));
  EXPECT_FALSE(visible(view->allowButton()));
  EXPECT_FALSE(visible(view->accessibilityError()));
  EXPECT_FALSE(visible(view->relaunchHint()));
  EXPECT_EQ(view->dotSteps().size(), 5u);
  EXPECT_EQ(view->highlightedDot(), std::nullopt);
  pressReturn(view->continueButton());

  // Translate page: Skip until done, Return does nothing meanwhile.
  ASSERT_EQ(view->flow().step(), Step::tutorialTranslate);
  TutorialStep* translate = view->tutorialStep();
  ASSERT_NE(translate, nullptr);
  EXPECT_EQ(translate->model().action(), TutorialAction::translate);
  // Not the recorder: focused, it would record the hot key the page asks for.
  EXPECT_EQ(view->focusWidget(), view.get());
  EXPECT_TRUE(visible(view->skipButton()));
  EXPECT_FALSE(view->continueButton()->isEnabled());
  pressReturn(view->continueButton());
  EXPECT_EQ(view->flow().step(), Step::tutorialTranslate);
  post(notifications::kDidTranslateSelection);
  EXPECT_FALSE(visible(view->skipButton()));
  EXPECT_TRUE(view->continueButton()->isEnabled());
  EXPECT_EQ(translate->statusSymbol()->objectName(), "checkmark.circle.fill");
  // The practice field and the recorder keep their Return.
  translate->sample()->setFocus();
  pressReturn(translate->sample());
  EXPECT_EQ(view->flow().step(), Step::tutorialTranslate);
  translate->recorder()->setFocus();
  pressReturn(translate->recorder());
  EXPECT_EQ(view->flow().step(), Step::tutorialTranslate);
  view->setFocus();
  QTest::mouseClick(view->continueButton(), Qt::LeftButton);

  // Quick translate: skipped. Back shows the translate page done again, on a new page.
  ASSERT_EQ(view->flow().step(), Step::tutorialQuickTranslate);
  EXPECT_EQ(view->tutorialStep()->animation(), nullptr);
  QTest::mouseClick(view->backButton(), Qt::LeftButton);
  ASSERT_EQ(view->flow().step(), Step::tutorialTranslate);
  EXPECT_EQ(view->tutorialStep()->statusSymbol()->objectName(), "checkmark.circle.fill");
  QTest::mouseClick(view->continueButton(), Qt::LeftButton);
  QTest::mouseClick(view->skipButton(), Qt::LeftButton);

  // Refine without a key: a variant replaced elsewhere completes the page while the key prompt shows, and
  // the key field still keeps its Return, which saves the key instead of ending onboarding.
  ASSERT_EQ(view->flow().step(), Step::tutorialRefine);
  TutorialStep* refine = view->tutorialStep();
  ASSERT_NE(refine, nullptr);
  advance(0ms);
  ASSERT_TRUE(refine->model().showsKeyPrompt());
  QTest::mouseClick(refine->addKeyButton(), Qt::LeftButton);
  EXPECT_TRUE(refine->keyField()->hasFocus() || !view->isActiveWindow());
  refine->keyField()->setFocus();
  post(notifications::kDidReplaceRefined);
  ASSERT_TRUE(view->continueButton()->isEnabled());
  QTest::keyClicks(refine->keyField(), "AIzaTyped");
  pressReturn(refine->keyField());
  advance(0ms);
  EXPECT_EQ(w.storedKey(), "AIzaTyped");
  EXPECT_EQ(view->flow().step(), Step::tutorialRefine);
  EXPECT_EQ(finishes, 0);
  QTest::mouseClick(view->continueButton(), Qt::LeftButton);

  EXPECT_EQ(finishes, 1);
  EXPECT_TRUE(w.env.defaults.boolForKey(AppSettings::kHasCompletedOnboarding));
  EXPECT_EQ(w.env.defaults.stringForKey(AppSettings::kTargetLanguage), "zh-CN");
  EXPECT_EQ(w.env.defaults.stringForKey(OnboardingFlow::kUserPurposeKey), "writing");
  EXPECT_EQ(w.events().back(), "onboarding_completed");
}

TEST_F(OnboardingWidgetsTest, ATrustedRunSkipsThePermissionAndAClickLeavesTheSplashOnce) {
  w.analytics.setUp();
  make();
  QTest::mouseClick(view->page(), Qt::LeftButton, {}, QPoint(30, 30));
  ASSERT_EQ(view->flow().step(), Step::language);
  EXPECT_EQ(view->dotSteps().size(), 5u);
  // Return with nothing focused that keeps it: Continue.
  view->continueButton()->setFocus();
  pressReturn(view->continueButton());
  ASSERT_EQ(view->flow().step(), Step::purpose);
  // The splash's own timer finds it gone.
  advance(2s);
  EXPECT_EQ(view->flow().step(), Step::purpose);
  clickCard(view->purposeCard("both"));
  advance(250ms);
  EXPECT_EQ(view->flow().step(), Step::tutorialTranslate);
  QTest::mouseClick(view->backButton(), Qt::LeftButton);
  EXPECT_EQ(view->flow().step(), Step::purpose);
  EXPECT_TRUE(view->purposeCard("both")->isSelected());
}

TEST_F(OnboardingWidgetsTest, RelaunchFromTheButton) {
  w.accessibility.trusted = false;
  make();
  view->flow().splashDone();
  view->flow().continueTapped();
  view->flow().choosePurpose("both");
  advance(250ms);
  QTest::mouseClick(view->allowButton(), Qt::LeftButton);
  w.relauncher.succeeds = false;
  QTest::mouseClick(view->relaunchButton(), Qt::LeftButton);
  EXPECT_EQ(w.relauncher.launches, 1);
  EXPECT_EQ(w.shell.terminations, 0);
  EXPECT_TRUE(visible(view->accessibilityError()));
}

TEST_F(OnboardingWidgetsTest, AChoiceCardGrowsOnlyUnselectedAndTakesClicksAnywhere) {
  QWidget host;
  host.resize(400, 100);
  int clicks = 0;
  ChoiceCard card(std::string("book"), std::string("\U0001F1E9\U0001F1EA"), "German", {}, &host);
  card.setGeometry(10, 10, 380, 60);
  QObject::connect(&card, &ChoiceCard::clicked, [&] { ++clicks; });
  host.show();
  EXPECT_EQ(card.leading(), QString::fromUtf8("\U0001F1E9\U0001F1EA"));  // the emoji wins

  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&card, &enter);
  EXPECT_DOUBLE_EQ(card.scale(), 1.015);
  card.setSelected(true);
  EXPECT_DOUBLE_EQ(card.scale(), 1.0);
  card.setSelected(false);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&card, &leave);
  EXPECT_DOUBLE_EQ(card.scale(), 1.0);

  QTest::mouseClick(&card, Qt::LeftButton, {}, QPoint(370, 30));
  QTest::mouseClick(&card, Qt::LeftButton, {}, QPoint(20, 30));
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(card.isSelected());  // the flow selects, not the card
}

TEST_F(OnboardingWidgetsTest, TheSplashTimerIsDroppedWithThePage) {
  int done = 0;
  {
    SplashStep splash([&] { ++done; }, w.env.executor, 0);
    splash.show();
    w.env.executor.advance(1s);
  }
  w.env.executor.advance(5s);
  EXPECT_EQ(done, 0);
}

TEST_F(OnboardingWidgetsTest, TheWindowMayBeDroppedFromItsOwnContinueButton) {
  platform::QtAppWindowHost host;
  std::unique_ptr<platform::AppWindow> window;
  auto* content = new OnboardingView(
      OnboardingView::Services{w.services, w.analytics, w.selection, w.relauncher, w.shell, w.hotkeys()},
      [&] { window.reset(); });
  content->setTransitionDuration(0);
  window = host.makeWindow(content);
  window->makeKeyAndOrderFront();
  OnboardingFlow& flow = content->flow();
  flow.splashDone();
  flow.continueTapped();
  flow.choosePurpose("both");
  flow.continueTapped();
  flow.skipTapped();
  flow.skipTapped();
  w.env.notifications.post(std::string(notifications::kDidReplaceRefined));
  ASSERT_TRUE(content->continueButton()->isEnabled());
  QTest::mouseClick(content->continueButton(), Qt::LeftButton);
  EXPECT_EQ(window, nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace quorvelle
