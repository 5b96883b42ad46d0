#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Analytics.h"
#include "app/AppSettings.h"
#include "app/HotkeyRegistry.h"
#include "app/SelectionCapture.h"
#include "platform/AppShell.h"
#include "platform/MainExecutor.h"
#include "platform/Relauncher.h"
#include "platform/Task.h"

namespace quorvelle {

// The onboarding's steps, in the order of the flow and of the progress dots.
enum class OnboardingStep {
  splash = 0,
  language = 1,
  purpose = 2,
  accessibility = 3,
  tutorialTranslate = 4,
  tutorialQuickTranslate = 5,
  tutorialRefine = 6,
};

// The step's name as analytics report it ("tutorialQuickTranslate").
std::string_view stepName(OnboardingStep step);

// One purpose of use the user may pick.
struct OnboardingPurpose {
  std::string_view id;  // stored and reported
  std::string_view symbol;
  std::string_view title;
  std::string_view detail;
};
const std::vector<OnboardingPurpose>& onboardingPurposes();

// The onboarding window's state and decisions, apart from its widgets: which step shows, where Back and
// the forward buttons lead, what is stored and which events are sent.
//
// Stored: "targetLanguage" by commitLanguage() and finish(), "userPurpose" by each purpose choice,
// "hasCompletedOnboarding" by finish(). Events go through `Analytics`, which sends nothing while off.
//
// Timed work runs on the main executor: the 0.25 s move after a card is chosen (which acts only when
// its step still shows) and the 1 s re-check of the accessibility permission, for as long as the flow
// lives. The desktop has no notification for a changed permission, so the poll is the only check.
//
// finish() runs once: a second Continue, Skip or Return stores, reports and calls `onFinish` no more.
//
// Relaunch: this copy lets go of its hot keys (which the new copy could not grab while this one holds
// them), starts the new copy and ends only once it runs; when it cannot be started, this copy takes
// its hot keys back, stays and shows the instructions.
//
// Main thread only. Everything given to the constructor must outlive the flow; timers end with it.
class OnboardingFlow {
 public:
  static constexpr std::string_view kStartedEvent = "onboarding_started";
  static constexpr std::string_view kStepCompletedEvent = "onboarding_step_completed";
  static constexpr std::string_view kLanguageSelectedEvent = "onboarding_language_selected";
  static constexpr std::string_view kPurposeSelectedEvent = "onboarding_purpose_selected";
  static constexpr std::string_view kCompletedEvent = "onboarding_completed";
  static constexpr std::string_view kUserPurposeKey = "userPurpose";
  static constexpr std::chrono::milliseconds kChoiceDelay{250};
  static constexpr std::chrono::milliseconds kTrustPollInterval{1000};

  enum class Direction { leading, trailing };

  struct Services {
    AppSettings& settings;
    Analytics& analytics;
    platform::MainExecutor& executor;
    platform::Accessibility& accessibility;
    SelectionCapture& selection;
    platform::Relauncher& relauncher;
    platform::AppShell& shell;
    HotkeyRegistry hotkeys;
  };

  OnboardingFlow(Services services, std::function<void()> onFinish);
  ~OnboardingFlow();
  OnboardingFlow(const OnboardingFlow&) = delete;
  OnboardingFlow& operator=(const OnboardingFlow&) = delete;

  // Called after any state below changed, for the view to show it.
  void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

  OnboardingStep step() const { return step_; }
  // The edge the step shown last came in from: trailing for forward moves, leading for Back.
  Direction direction() const { return direction_; }
  bool isTrusted() const { return isTrusted_; }
  bool requestedAccessibility() const { return requestedAccessibility_; }
  bool accessibilitySettingsError() const { return accessibilitySettingsError_; }
  const std::string& languageCode() const { return languageCode_; }
  const std::optional<std::string>& purpose() const { return purpose_; }
  bool finished() const { return finished_; }

  // The tutorial pages' done flags; each page sets its own and nothing clears them.
  bool& tutorialDone(OnboardingStep step);
  bool tutorialDone(OnboardingStep step) const;

  // The window came on screen.
  void shown();
  // The splash page asks to move on. Once it has left, its late asks are dropped.
  void splashDone();

  // Moves forward, reporting the step left; nothing when `target` shows already.
  void advance(OnboardingStep target);
  void goBack();
  std::vector<OnboardingStep> visibleSteps() const;

  // The bottom bar.
  bool showsBottomBar() const { return step_ != OnboardingStep::splash; }
  bool showsBack() const { return static_cast<int>(step_) >= static_cast<int>(OnboardingStep::purpose); }
  bool showsSkip() const;
  bool continueEnabled() const;
  // Continue, or Return while Continue is enabled; does nothing while it is disabled.
  void continueTapped();
  // The tutorial's Skip: the same move as its Continue, taken while Continue is still disabled.
  void skipTapped();

  void chooseLanguage(const std::string& code);
  void commitLanguage();
  void choosePurpose(const std::string& id);

  // The accessibility step.
  void allowAccessibility();
  void relaunch();
  // Reads the permission again (each poll tick).
  void recheckTrust();

  void finish();

 private:
  void tutorialNext();
  void leavePurpose();
  void changed();
  void send(std::string_view event, dizizoz::Properties properties = dizizoz::Properties::object(),
            dizizoz::Properties userProperties = dizizoz::Properties::object());

  Services services_;
  std::function<void()> onFinish_;
  std::function<void()> onChange_;
  platform::Task timers_;
  platform::CancelToken trustPoll_;

  OnboardingStep step_ = OnboardingStep::splash;
  Direction direction_ = Direction::trailing;
  bool isTrusted_;
  bool requestedAccessibility_ = false;
  bool accessibilitySettingsError_ = false;
  std::string languageCode_;
  std::optional<std::string> purpose_;
  bool didTranslate_ = false;
  bool didQuickTranslate_ = false;
  bool didRefine_ = false;
  bool finished_ = false;
};

}  // namespace quorvelle
