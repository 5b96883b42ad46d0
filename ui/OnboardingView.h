#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/Analytics.h"
#include "app/HotkeyRegistry.h"
#include "app/SelectionCapture.h"
#include "platform/AppShell.h"
#include "platform/Relauncher.h"
#include "ui/OnboardingFlow.h"
#include "ui/WindowServices.h"

class QAbstractAnimation;
class QLabel;
class QPushButton;
class QScrollArea;

namespace quorvelle {

class ChoiceCard;
class TutorialStep;

// The onboarding window's root view: one page per step of the flow (splash, language, purpose, the
// accessibility permission while it is missing, three hands-on tutorial pages) and, below every page but
// the splash, the bottom bar with Back, the progress dots and Continue (with Skip on a tutorial page not
// yet done). The decisions are the flow's (OnboardingFlow); this view shows them and hands it the user's
// clicks.
//
// Each step gets a new page when it comes on screen, so a page shown again starts afresh (a tutorial page
// reads the key again); the flow's state (choices, done flags) stays. A step change slides the new page
// in from the side the move came from and fades the old one out (transitionDuration(), 0 for none; with
// none, the pages' own transitions, such as a tutorial page's done look, show at once too).
//
// Return acts as Continue while Continue is enabled, unless a text field, practice field or shortcut
// recorder has the focus: those keep their Return.
//
// Needs the shortcuts package's environment installed for its whole life. Main thread only; the services
// must outlive the view.
class OnboardingView final : public QWidget {
 public:
  static constexpr int kWidth = 720;
  static constexpr int kHeight = 620;
  static constexpr int kMargin = 28;
  static constexpr int kDefaultTransitionMs = 350;

  struct Services {
    const WindowServices& windows;
    Analytics& analytics;
    SelectionCapture& selection;
    platform::Relauncher& relauncher;
    platform::AppShell& shell;
    HotkeyRegistry hotkeys;
  };

  OnboardingView(Services services, std::function<void()> onFinish, QWidget* parent = nullptr);
  ~OnboardingView() override;

  // The common heading of the language, purpose and accessibility pages: an optional symbol, the title
  // and the subtitle, centred.
  static QWidget* header(const std::optional<std::string>& symbol, const QString& title,
                         const QString& subtitle, QWidget* parent);

  OnboardingFlow& flow() { return *flow_; }
  int transitionDuration() const { return transitionMs_; }
  // The page slide under way; null when none is.
  QAbstractAnimation* transition() const;
  // Also the splash's entrance, when it has not shown yet.
  void setTransitionDuration(int milliseconds);

  // Parts, for tests and the gallery; null where the current page has none.
  QWidget* page() const { return page_; }
  QWidget* bottomBar() const { return bottomBar_; }
  QPushButton* backButton() const { return back_; }
  QPushButton* skipButton() const { return skip_; }
  QPushButton* continueButton() const { return continue_; }
  // The steps that have a dot, and the one drawn highlighted (none when the step has no dot).
  std::vector<OnboardingStep> dotSteps() const;
  std::optional<OnboardingStep> highlightedDot() const;
  ChoiceCard* languageCard(const std::string& code) const;
  ChoiceCard* purposeCard(const std::string& id) const;
  QScrollArea* languageScroll() const { return languageScroll_; }
  QPushButton* allowButton() const { return allow_; }
  QLabel* trustedMark() const { return trustedMark_; }
  QLabel* accessibilityError() const { return accessibilityError_; }
  QWidget* relaunchHint() const { return relaunchHint_; }
  QPushButton* relaunchButton() const { return relaunch_; }
  TutorialStep* tutorialStep() const;

  // The window is fitted to this before it is laid out.
  QSize sizeHint() const override { return {kWidth, kHeight}; }

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class Dots;
  class StepArea;

  QWidget* makePage(OnboardingStep step);
  QWidget* makeLanguagePage();
  QWidget* makePurposePage();
  QWidget* makeAccessibilityPage();
  void refresh();
  void showStep();
  void takeFocusFromPages();

  Services services_;
  std::unique_ptr<OnboardingFlow> flow_;
  int transitionMs_ = kDefaultTransitionMs;
  OnboardingStep shownStep_ = OnboardingStep::splash;

  StepArea* area_ = nullptr;
  QWidget* page_ = nullptr;
  QWidget* bottomBar_ = nullptr;
  QPushButton* back_ = nullptr;
  Dots* dots_ = nullptr;
  QPushButton* skip_ = nullptr;
  QPushButton* continue_ = nullptr;

  // The current page's parts.
  std::map<std::string, ChoiceCard*> languageCards_;
  std::map<std::string, ChoiceCard*> purposeCards_;
  QScrollArea* languageScroll_ = nullptr;
  QPushButton* allow_ = nullptr;
  QLabel* trustedMark_ = nullptr;
  QLabel* accessibilityError_ = nullptr;
  QWidget* relaunchHint_ = nullptr;
  QPushButton* relaunch_ = nullptr;
};

}  // namespace quorvelle
