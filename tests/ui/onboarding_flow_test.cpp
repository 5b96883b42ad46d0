// The onboarding's steps, moves, stored choices and events, apart from its widgets, on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/ui/OnboardingWorld.h"
#include "ui/OnboardingFlow.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using Step = OnboardingStep;

struct OnboardingFlowTest : testing::Test {
  test::OnboardingWorld w;
  int finishes = 0;
  std::function<void()> atFinish;
  std::unique_ptr<OnboardingFlow> flow;

  void make() {
    flow = std::make_unique<OnboardingFlow>(w.flowServices(), [this] {
      ++finishes;
      if (atFinish) atFinish();
    });
  }

  void advance(std::chrono::milliseconds d) { w.env.executor.advance(d); }

  // Walks the flow to `target` the plain way (Continue and Skip), letting deferred moves run out.
  void reach(Step target) {
    while (flow->step() != target) {
      switch (flow->step()) {
        case Step::splash:
          flow->splashDone();
          break;
        case Step::language:
          flow->continueTapped();
          break;
        case Step::purpose:
          flow->choosePurpose("both");
          flow->continueTapped();
          break;
        case Step::accessibility:
          w.accessibility.trusted = true;
          flow->recheckTrust();
          flow->continueTapped();
          break;
        default:
          flow->skipTapped();
          break;
      }
      advance(300ms);
    }
  }

  // Without the permission, to its step.
  void toThePermissionStep() {
    w.accessibility.trusted = false;
    make();
    reach(Step::purpose);
    flow->choosePurpose("both");
    advance(250ms);
    ASSERT_EQ(flow->step(), Step::accessibility);
  }
  // There, Allow opens the settings but the permission stays missing.
  void askForThePermissionInVain() {
    toThePermissionStep();
    flow->allowAccessibility();
  }

  std::vector<std::string> stepsCompleted() const {
    std::vector<std::string> steps;
    for (const auto& capture : w.client.captures) {
      if (capture.event == OnboardingFlow::kStepCompletedEvent)
        steps.push_back((*capture.properties)["step"]);
    }
    return steps;
  }
};

TEST_F(OnboardingFlowTest, ATrustedRunSendsEveryEventInOrderAndFinishesWithTheWritesLast) {
  w.analytics.setUp();
  make();
  // The settings are written before the last event, and both before the window is told to close.
  w.client.onCapture = [this](const test::RecordingAnalyticsClient::Capture& capture) {
    if (capture.event != OnboardingFlow::kCompletedEvent) return;
    EXPECT_TRUE(w.env.defaults.boolForKey(AppSettings::kHasCompletedOnboarding));
    EXPECT_EQ(w.env.defaults.stringForKey(AppSettings::kTargetLanguage), "de");
    EXPECT_EQ(finishes, 0);
  };
  atFinish = [this] { EXPECT_EQ(w.events().back(), OnboardingFlow::kCompletedEvent); };
  const std::size_t before = w.client.captures.size();

  flow->shown();
  flow->splashDone();
  EXPECT_EQ(flow->step(), Step::language);
  flow->chooseLanguage("de");
  advance(250ms);
  EXPECT_EQ(flow->step(), Step::purpose);
  flow->choosePurpose("writing");
  advance(250ms);
  EXPECT_EQ(flow->step(), Step::tutorialTranslate);
  EXPECT_FALSE(w.env.defaults.objectForKey(AppSettings::kHasCompletedOnboarding));

  EXPECT_TRUE(flow->showsSkip());
  EXPECT_FALSE(flow->continueEnabled());
  // The page sets the flag the flow lent it.
  flow->tutorialDone(Step::tutorialTranslate) = true;
  EXPECT_FALSE(flow->showsSkip());
  EXPECT_TRUE(flow->continueEnabled());
  flow->continueTapped();
  flow->skipTapped();
  EXPECT_EQ(flow->step(), Step::tutorialRefine);
  flow->skipTapped();

  const std::vector<std::string> expected{
      "onboarding_started",        "onboarding_step_completed",   "onboarding_language_selected",
      "onboarding_step_completed", "onboarding_purpose_selected", "onboarding_step_completed",
      "onboarding_step_completed", "onboarding_step_completed",   "onboarding_step_completed",
      "onboarding_completed",
  };
  const auto events = w.events();
  EXPECT_EQ(std::vector<std::string>(events.begin() + static_cast<long>(before), events.end()), expected);
  EXPECT_EQ(stepsCompleted(), (std::vector<std::string>{"splash", "language", "purpose", "tutorialTranslate",
                                                        "tutorialQuickTranslate", "tutorialRefine"}));
  const auto& language = w.client.captures[before + 2];
  EXPECT_EQ(*language.properties, (dizizoz::Properties{{"language", "de"}}));
  EXPECT_EQ(*language.userProperties, (dizizoz::Properties{{"native_language", "de"}}));
  const auto& purpose = w.client.captures[before + 4];
  EXPECT_EQ(*purpose.properties, (dizizoz::Properties{{"purpose", "writing"}}));
  EXPECT_EQ(*purpose.userProperties, (dizizoz::Properties{{"purpose", "writing"}}));
  for (const auto& capture : w.client.captures) {
    if (capture.event == "onboarding_started" || capture.event == "onboarding_completed") {
      EXPECT_FALSE(capture.properties) << capture.event;
      EXPECT_FALSE(capture.userProperties) << capture.event;
    }
  }

  EXPECT_EQ(w.env.defaults.takeWrites(),
            (std::vector<std::string>{"targetLanguage", "userPurpose", "targetLanguage",
                                      "hasCompletedOnboarding"}));
  EXPECT_EQ(w.env.defaults.stringForKey(AppSettings::kTargetLanguage), "de");
  EXPECT_EQ(w.env.defaults.stringForKey(OnboardingFlow::kUserPurposeKey), "writing");
  EXPECT_EQ(finishes, 1);
}

TEST_F(OnboardingFlowTest, FinishRunsOnceWhateverEndsTheLastPage) {
  w.analytics.setUp();
  make();
  reach(Step::tutorialRefine);
  flow->tutorialDone(Step::tutorialRefine) = true;
  w.env.defaults.takeWrites();
  const std::size_t before = w.client.captures.size();

  // Return and a click on Continue, a late Skip, and the end itself asked again.
  flow->continueTapped();
  flow->continueTapped();
  flow->skipTapped();
  flow->finish();

  EXPECT_EQ(finishes, 1);
  EXPECT_EQ(w.env.defaults.takeWrites(),
            (std::vector<std::string>{"targetLanguage", "hasCompletedOnboarding"}));
  const auto events = w.events();
  EXPECT_EQ(std::vector<std::string>(events.begin() + static_cast<long>(before), events.end()),
            (std::vector<std::string>{"onboarding_step_completed", "onboarding_completed"}));
  EXPECT_FALSE(flow->continueEnabled());
}

TEST_F(OnboardingFlowTest, WithAnalyticsOffTheFlowWritesAndFinishesTheSameAndSendsNothing) {
  make();
  flow->shown();
  reach(Step::tutorialRefine);
  flow->skipTapped();
  flow->skipTapped();

  EXPECT_EQ(finishes, 1);
  EXPECT_TRUE(w.client.captures.empty());
  EXPECT_EQ(w.env.defaults.takeWrites(),
            (std::vector<std::string>{"targetLanguage", "userPurpose", "targetLanguage",
                                      "hasCompletedOnboarding"}));
}

TEST_F(OnboardingFlowTest, BackLeadsWhereTheTableSaysAndReportsNothing) {
  struct Case {
    const char* name;
    bool trusted;
    Step from;
    Step back;
  };
  const Case cases[] = {
      {"splash_stays", true, Step::splash, Step::splash},
      {"language_stays", true, Step::language, Step::language},
      {"purpose", true, Step::purpose, Step::language},
      {"accessibility", false, Step::accessibility, Step::purpose},
      {"translate_trusted", true, Step::tutorialTranslate, Step::purpose},
      {"translate_untrusted", false, Step::tutorialTranslate, Step::accessibility},
      {"quick_translate", true, Step::tutorialQuickTranslate, Step::tutorialTranslate},
      {"refine", true, Step::tutorialRefine, Step::tutorialQuickTranslate},
  };
  w.analytics.setUp();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    w.accessibility.trusted = c.trusted;
    make();
    reach(c.from);
    // Reaching a tutorial page untrusted grants the permission on the way; take it back.
    w.accessibility.trusted = c.trusted;
    flow->recheckTrust();
    EXPECT_EQ(flow->showsBack(), static_cast<int>(c.from) >= 2);
    const std::size_t before = w.client.captures.size();
    flow->goBack();
    EXPECT_EQ(flow->step(), c.back);
    EXPECT_EQ(w.client.captures.size(), before);
    if (c.back != c.from) {
      EXPECT_EQ(flow->direction(), OnboardingFlow::Direction::leading);
    }
  }
}

TEST_F(OnboardingFlowTest, TheAccessibilityDotFollowsThePermissionWhileItsStepStays) {
  w.accessibility.trusted = true;
  make();
  EXPECT_EQ(flow->visibleSteps(), (std::vector<Step>{Step::language, Step::purpose, Step::tutorialTranslate,
                                                     Step::tutorialQuickTranslate, Step::tutorialRefine}));
  flow.reset();

  w.accessibility.trusted = false;
  make();
  EXPECT_EQ(flow->visibleSteps().size(), 6u);
  flow->splashDone();
  flow->continueTapped();
  flow->choosePurpose("reading");
  advance(250ms);
  ASSERT_EQ(flow->step(), Step::accessibility);
  EXPECT_FALSE(flow->continueEnabled());

  // Granted: the poll sees it within a second; the step stays until Continue.
  w.accessibility.trusted = true;
  EXPECT_EQ(flow->visibleSteps().size(), 6u);
  advance(1s);
  EXPECT_EQ(flow->visibleSteps().size(), 5u);
  EXPECT_EQ(flow->step(), Step::accessibility);
  EXPECT_TRUE(flow->continueEnabled());
  flow->continueTapped();
  EXPECT_EQ(flow->step(), Step::tutorialTranslate);

  // Revoked later: the dot comes back and Back leads to the permission again.
  w.accessibility.trusted = false;
  advance(1s);
  EXPECT_EQ(flow->visibleSteps().size(), 6u);
  flow->goBack();
  EXPECT_EQ(flow->step(), Step::accessibility);
}

TEST_F(OnboardingFlowTest, CardsMoveOnAQuarterSecondLaterOnlyFromTheirOwnStep) {
  w.analytics.setUp();
  make();
  flow->splashDone();

  // Continue within 0.25 s of a card: one move, and the deferred commit finds the step changed.
  flow->chooseLanguage("fr");
  advance(100ms);
  flow->continueTapped();
  EXPECT_EQ(flow->step(), Step::purpose);
  advance(1s);
  EXPECT_EQ(flow->step(), Step::purpose);
  EXPECT_EQ(stepsCompleted(), (std::vector<std::string>{"splash", "language"}));

  // A purpose, then Back within 0.25 s: the user stays on the language step.
  EXPECT_FALSE(flow->continueEnabled());
  flow->choosePurpose("reading");
  EXPECT_TRUE(flow->continueEnabled());
  flow->goBack();
  advance(1s);
  EXPECT_EQ(flow->step(), Step::language);
  // Going back shows the earlier choices.
  EXPECT_EQ(flow->languageCode(), "fr");
  EXPECT_EQ(flow->purpose(), "reading");

  // Two quick cards: two events, one move.
  w.client.captures.clear();
  flow->chooseLanguage("es");
  advance(100ms);
  flow->chooseLanguage("it");
  advance(1s);
  EXPECT_EQ(flow->step(), Step::purpose);
  EXPECT_EQ(w.events(),
            (std::vector<std::string>{"onboarding_language_selected", "onboarding_language_selected",
                                      "onboarding_step_completed"}));
  EXPECT_EQ(w.env.defaults.stringForKey(AppSettings::kTargetLanguage), "it");
}

TEST_F(OnboardingFlowTest, LanguageContinueWithoutACardStoresTheSystemLanguageAndTheCardAloneStoresNothing) {
  w.analytics.setUp();
  make();
  flow->splashDone();
  flow->continueTapped();
  EXPECT_EQ(w.env.defaults.stringForKey(AppSettings::kTargetLanguage), w.settings.systemDefaultLanguage());
  const auto events = w.events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "onboarding_language_selected"), 0);

  flow->goBack();
  w.env.defaults.takeWrites();
  flow->chooseLanguage("ja");
  EXPECT_TRUE(w.env.defaults.takeWrites().empty());
}

TEST_F(OnboardingFlowTest, TheSplashsLateCallIsDroppedOnceTheSplashHasLeft) {
  w.analytics.setUp();
  make();
  flow->splashDone();  // a click
  flow->chooseLanguage("pl");
  advance(250ms);
  ASSERT_EQ(flow->step(), Step::purpose);
  const std::size_t before = w.client.captures.size();

  flow->splashDone();  // the timer, 1.8 s after the splash appeared
  EXPECT_EQ(flow->step(), Step::purpose);
  EXPECT_EQ(w.client.captures.size(), before);
}

TEST_F(OnboardingFlowTest, AllowShowsWhatTheRequestGave) {
  ASSERT_NO_FATAL_FAILURE(toThePermissionStep());
  EXPECT_FALSE(flow->requestedAccessibility());

  w.accessibility.urlOpens = false;
  flow->allowAccessibility();
  EXPECT_TRUE(flow->requestedAccessibility());
  EXPECT_TRUE(flow->accessibilitySettingsError());

  w.accessibility.urlOpens = true;
  flow->allowAccessibility();
  EXPECT_FALSE(flow->accessibilitySettingsError());

  w.accessibility.urlOpens = false;
  flow->allowAccessibility();
  ASSERT_TRUE(flow->accessibilitySettingsError());
  // A granted permission clears the error at the next poll.
  w.accessibility.trusted = true;
  advance(1s);
  EXPECT_FALSE(flow->accessibilitySettingsError());
  EXPECT_TRUE(flow->isTrusted());

  // Already granted: nothing is opened.
  const std::size_t opened = w.accessibility.openedURLs.size();
  flow->allowAccessibility();
  EXPECT_EQ(w.accessibility.openedURLs.size(), opened);
  EXPECT_TRUE(flow->requestedAccessibility());
}

TEST_F(OnboardingFlowTest, RelaunchLetsGoOfTheHotKeysAndEndsOnlyOnceTheNewCopyRuns) {
  askForThePermissionInVain();
  std::vector<std::string> atLaunch;
  w.relauncher.onLaunch = [&] { atLaunch = w.hotkeyCalls; };

  flow->relaunch();
  EXPECT_EQ(w.relauncher.launches, 1);
  EXPECT_EQ(atLaunch, (std::vector<std::string>{"disable 2"}));
  EXPECT_EQ(w.hotkeyCalls, (std::vector<std::string>{"disable 2"}));
  EXPECT_EQ(w.shell.terminations, 1);
}

TEST_F(OnboardingFlowTest, AFailedRelaunchTakesTheHotKeysBackStaysAndShowsTheInstructions) {
  askForThePermissionInVain();
  ASSERT_FALSE(flow->accessibilitySettingsError());
  w.relauncher.succeeds = false;

  flow->relaunch();
  EXPECT_EQ(w.hotkeyCalls, (std::vector<std::string>{"disable 2", "enable 2"}));
  EXPECT_EQ(w.shell.terminations, 0);
  EXPECT_EQ(flow->step(), Step::accessibility);
  EXPECT_TRUE(flow->accessibilitySettingsError());
}

TEST_F(OnboardingFlowTest, TimersEndWithTheFlow) {
  w.accessibility.trusted = false;
  make();
  flow->splashDone();
  flow->chooseLanguage("de");
  flow.reset();
  w.accessibility.trusted = true;
  advance(5s);  // neither the deferred commit nor the poll touches the gone flow
  EXPECT_EQ(w.env.executor.pendingCount(), 0u);
}

}  // namespace
}  // namespace quorvelle
