// The windows' transitions: each change eases with its own curve and length, and shows at once when the
// window runs without transitions. The animations are stepped by hand, never waited for.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVariantAnimation>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/AppNotifications.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/ui/OnboardingWorld.h"
#include "ui/Easing.h"
#include "ui/OnboardingView.h"
#include "ui/TutorialSample.h"
#include "ui/TutorialStep.h"

namespace quorvelle {
namespace {

QVariantAnimation* running(QObject* root, const char* name) {
  for (auto* animation : root->findChildren<QVariantAnimation*>(QString::fromLatin1(name))) {
    if (animation->state() == QAbstractAnimation::Running) return animation;
  }
  return nullptr;
}

TEST(Easing, SpringsSettleOnTheirEndAndEaseOutIsTheStandardCurve) {
  const QEasingCurve spring = springCurve<400, 70>();
  EXPECT_DOUBLE_EQ(spring.valueForProgress(0), 0);
  EXPECT_DOUBLE_EQ(spring.valueForProgress(1), 1);
  // Damped below 1, it overshoots a little before it settles.
  double highest = 0;
  for (int i = 0; i <= 100; ++i) highest = std::max(highest, spring.valueForProgress(i / 100.0));
  EXPECT_GT(highest, 1.0);
  EXPECT_LT(highest, 1.1);
  EXPECT_NEAR(spring.valueForProgress(0.99), 1, 0.002);
  // A response of 0.4 s settles in about 0.63 s at damping 0.7, 0.73 s at 0.6.
  EXPECT_EQ((springMs<400, 70>()), 628);
  EXPECT_EQ((springMs<400, 60>()), 733);
  EXPECT_NEAR(easeOut().valueForProgress(0.5), 0.69, 0.02);
  EXPECT_NEAR(easeInOut().valueForProgress(0.5), 0.5, 0.001);
}

struct TutorialTransitions : testing::Test, test::TutorialWorld {
  std::unique_ptr<TutorialStep> make(TutorialAction action, bool animated) {
    auto page = std::make_unique<TutorialStep>(action, "en", done, services, analytics);
    page->setAnimated(animated);
    page->resize(620, 560);
    page->show();
    EXPECT_TRUE(quorvelle::test::waitUntilExposed(page.get()));
    env.executor.runUntilIdle();
    return page;
  }
};

TEST_F(TutorialTransitions, TheDoneLookComesInWithTheSpringsAndTheDraftsEaseOut) {
  storeKey();
  const auto page = make(TutorialAction::refine, true);
  EXPECT_EQ(page->doneBorderOpacity(), 0);
  env.notifications.post(std::string(notifications::kDidReplaceRefined));
  ASSERT_TRUE(done);

  QVariantAnimation* border = running(page.get(), "doneBorder");
  ASSERT_NE(border, nullptr);
  EXPECT_EQ(border->duration(), (springMs<400, 70>()));
  QVariantAnimation* symbol = running(page.get(), "statusSymbol");
  ASSERT_NE(symbol, nullptr) << "the check mark fades in";
  EXPECT_EQ(symbol->duration(), (springMs<400, 60>()));
  QVariantAnimation* draft = running(page.get(), "sampleDone");
  ASSERT_NE(draft, nullptr);
  EXPECT_EQ(draft->duration(), TutorialSample::kDoneEasingMs);
  EXPECT_EQ(draft->easingCurve(), easeOut());

  border->setCurrentTime(border->duration() / 4);
  EXPECT_GT(page->doneBorderOpacity(), 0);
  EXPECT_LT(page->doneBorderOpacity(), 0.5);
  draft->setCurrentTime(draft->duration() / 2);
  EXPECT_GT(page->sample()->doneProgress(), 0.5);
  EXPECT_LT(page->sample()->doneProgress(), 1);
  border->setCurrentTime(border->duration());
  draft->setCurrentTime(draft->duration());
  EXPECT_DOUBLE_EQ(page->doneBorderOpacity(), 0.5);
  EXPECT_DOUBLE_EQ(page->sample()->doneProgress(), 1);

  // A second completion starts nothing.
  env.notifications.post(std::string(notifications::kDidReplaceRefined));
  EXPECT_EQ(running(page.get(), "doneBorder"), nullptr);
}

TEST_F(TutorialTransitions, TheKeyPromptGivesWayToTheDraftWithAnEaseOut) {
  const auto page = make(TutorialAction::refine, true);
  ASSERT_TRUE(page->keyPrompt()->isVisible());
  EXPECT_EQ(running(page.get(), "keyPromptSwitch"), nullptr) << "not for what the keyring's answer decides";
  page->addKeyButton()->click();
  page->keyField()->insert(QStringLiteral("AIzaNew"));
  page->saveKeyButton()->click();
  env.executor.runUntilIdle();
  ASSERT_TRUE(page->sample()->isVisible());
  QVariantAnimation* fade = running(page.get(), "keyPromptSwitch");
  ASSERT_NE(fade, nullptr);
  EXPECT_EQ(fade->duration(), 200);
  EXPECT_EQ(fade->easingCurve(), easeOut());
}

TEST_F(TutorialTransitions, WithoutTransitionsEveryChangeShowsAtOnce) {
  const auto page = make(TutorialAction::refine, false);
  page->addKeyButton()->click();
  page->keyField()->insert(QStringLiteral("AIzaNew"));
  page->saveKeyButton()->click();
  env.executor.runUntilIdle();
  ASSERT_TRUE(page->sample()->isVisible());
  env.notifications.post(std::string(notifications::kDidReplaceRefined));
  // (The draft's border breathes while the page waits; that is no transition.)
  for (const char* name : {"doneBorder", "statusSymbol", "sampleDone", "keyPromptSwitch"}) {
    EXPECT_EQ(running(page.get(), name), nullptr) << name;
  }
  EXPECT_DOUBLE_EQ(page->doneBorderOpacity(), 0.5);
  EXPECT_DOUBLE_EQ(page->sample()->doneProgress(), 1);
}

struct SlideTest : testing::Test {
  test::OnboardingWorld w;
  std::unique_ptr<OnboardingView> view;
  void make(int transitionMs) {
    view = std::make_unique<OnboardingView>(
        OnboardingView::Services{w.services, w.analytics, w.selection, w.relauncher, w.shell, w.hotkeys()},
        [] {});
    view->setTransitionDuration(transitionMs);
    view->show();
    ASSERT_TRUE(quorvelle::test::waitUntilExposed(view.get()));
  }
  std::vector<QWidget*> shownPages() const {
    std::vector<QWidget*> shown;
    for (QWidget* page : view->page()->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (page->isVisible()) shown.push_back(page);
    }
    return shown;
  }
};

// The area paints the two pages itself while they slide: no page widget moves across the window (a
// moving widget leaves copies of itself behind on a desktop with a window manager).
TEST_F(SlideTest, WhileAPageSlidesOnlyTheAreaPaintsThenTheNewPageShows) {
  ASSERT_NO_FATAL_FAILURE(make(OnboardingView::kDefaultTransitionMs));
  QWidget* splash = view->page();
  view->flow().splashDone();
  QAbstractAnimation* slide = view->transition();
  ASSERT_NE(slide, nullptr);
  EXPECT_EQ(slide->duration(), OnboardingView::kDefaultTransitionMs);
  EXPECT_TRUE(shownPages().empty());
  QWidget* language = view->page();
  EXPECT_NE(language, splash);
  EXPECT_EQ(language->geometry(), language->parentWidget()->rect()) << "in its place, not on its way";

  // A move while a slide is under way ends that slide first.
  view->flow().chooseLanguage("de");
  w.env.executor.advance(OnboardingFlow::kChoiceDelay);
  QAbstractAnimation* second = view->transition();
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(shownPages().empty());
  second->setCurrentTime(second->duration());
  EXPECT_EQ(view->transition(), nullptr);
  EXPECT_EQ(shownPages(), std::vector<QWidget*>{view->page()});
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(view->page()->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1u)
      << "the pages that left are gone";
}

TEST_F(SlideTest, WithoutTransitionsTheNewPageShowsAtOnce) {
  ASSERT_NO_FATAL_FAILURE(make(0));
  view->flow().splashDone();
  EXPECT_EQ(view->transition(), nullptr);
  EXPECT_EQ(shownPages(), std::vector<QWidget*>{view->page()});
}

}  // namespace
}  // namespace quorvelle
