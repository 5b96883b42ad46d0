#include "ui/OnboardingFlow.h"

#include <utility>

#include "app/ShortcutNames.h"

namespace quorvelle {
namespace {

constexpr OnboardingStep kAllSteps[] = {
    OnboardingStep::splash,         OnboardingStep::language,          OnboardingStep::purpose,
    OnboardingStep::accessibility,  OnboardingStep::tutorialTranslate, OnboardingStep::tutorialQuickTranslate,
    OnboardingStep::tutorialRefine,
};

std::vector<GlobalShortcuts::Name> hotkeyNames() {
  return {shortcuts::translate(), shortcuts::refine()};
}

}  // namespace

std::string_view stepName(OnboardingStep step) {
  switch (step) {
    case OnboardingStep::splash:
      return "splash";
    case OnboardingStep::language:
      return "language";
    case OnboardingStep::purpose:
      return "purpose";
    case OnboardingStep::accessibility:
      return "accessibility";
    case OnboardingStep::tutorialTranslate:
      return "tutorialTranslate";
    case OnboardingStep::tutorialQuickTranslate:
      return "tutorialQuickTranslate";
    case OnboardingStep::tutorialRefine:
      return "tutorialRefine";
  }
  return "";
}

const std::vector<OnboardingPurpose>& onboardingPurposes() {
  static const std::vector<OnboardingPurpose> purposes{
      {"reading", "book", "Reading", "Understand English while I read \u2014 articles, docs, chats"},
      {"writing", "wand.and.stars", "Writing", "Make my English sound natural when I write"},
      {"both", "sparkles", "Both", "Read faster and write better"},
  };
  return purposes;
}

OnboardingFlow::OnboardingFlow(Services services, std::function<void()> onFinish)
    : services_(std::move(services)),
      onFinish_(std::move(onFinish)),
      timers_(services_.executor),
      isTrusted_(services_.accessibility.isTrusted()),
      languageCode_(services_.settings.systemDefaultLanguage()) {
  trustPoll_ = services_.executor.scheduleRepeating(kTrustPollInterval, [this] { recheckTrust(); });
}

OnboardingFlow::~OnboardingFlow() {
  trustPoll_.cancel();
  timers_.cancel();
}

bool& OnboardingFlow::tutorialDone(OnboardingStep step) {
  switch (step) {
    case OnboardingStep::tutorialQuickTranslate:
      return didQuickTranslate_;
    case OnboardingStep::tutorialRefine:
      return didRefine_;
    default:
      return didTranslate_;
  }
}

bool OnboardingFlow::tutorialDone(OnboardingStep step) const {
  return const_cast<OnboardingFlow*>(this)->tutorialDone(step);
}

void OnboardingFlow::changed() {
  if (onChange_) onChange_();
}

void OnboardingFlow::send(std::string_view event, dizizoz::Properties properties,
                          dizizoz::Properties userProperties) {
  if (!services_.analytics.enabled()) return;
  services_.analytics.capture(std::string(event), properties, userProperties);
}

void OnboardingFlow::shown() {
  send(kStartedEvent);
}

void OnboardingFlow::splashDone() {
  // A tap moves on at once; the timed call that follows must not pull the user back to the language
  // step from wherever they have gone since.
  if (step_ != OnboardingStep::splash) return;
  advance(OnboardingStep::language);
}

void OnboardingFlow::advance(OnboardingStep target) {
  if (finished_ || target == step_) return;
  direction_ = Direction::trailing;
  send(kStepCompletedEvent, {{"step", std::string(stepName(step_))}});
  step_ = target;
  changed();
}

void OnboardingFlow::goBack() {
  if (finished_) return;
  std::optional<OnboardingStep> previous;
  switch (step_) {
    case OnboardingStep::splash:
    case OnboardingStep::language:
      break;
    case OnboardingStep::purpose:
      previous = OnboardingStep::language;
      break;
    case OnboardingStep::accessibility:
      previous = OnboardingStep::purpose;
      break;
    case OnboardingStep::tutorialTranslate:
      previous = isTrusted_ ? OnboardingStep::purpose : OnboardingStep::accessibility;
      break;
    case OnboardingStep::tutorialQuickTranslate:
      previous = OnboardingStep::tutorialTranslate;
      break;
    case OnboardingStep::tutorialRefine:
      previous = OnboardingStep::tutorialQuickTranslate;
      break;
  }
  if (!previous) return;
  direction_ = Direction::leading;
  step_ = *previous;
  changed();
}

std::vector<OnboardingStep> OnboardingFlow::visibleSteps() const {
  std::vector<OnboardingStep> steps;
  for (OnboardingStep step : kAllSteps) {
    if (step == OnboardingStep::splash) continue;
    if (step == OnboardingStep::accessibility && isTrusted_) continue;
    steps.push_back(step);
  }
  return steps;
}

bool OnboardingFlow::showsSkip() const {
  switch (step_) {
    case OnboardingStep::tutorialTranslate:
    case OnboardingStep::tutorialQuickTranslate:
    case OnboardingStep::tutorialRefine:
      return !tutorialDone(step_);
    default:
      return false;
  }
}

bool OnboardingFlow::continueEnabled() const {
  if (finished_) return false;
  switch (step_) {
    case OnboardingStep::splash:
      return false;
    case OnboardingStep::language:
      return true;
    case OnboardingStep::purpose:
      return purpose_.has_value();
    case OnboardingStep::accessibility:
      return isTrusted_;
    case OnboardingStep::tutorialTranslate:
    case OnboardingStep::tutorialQuickTranslate:
    case OnboardingStep::tutorialRefine:
      return tutorialDone(step_);
  }
  return false;
}

void OnboardingFlow::continueTapped() {
  if (!continueEnabled()) return;
  switch (step_) {
    case OnboardingStep::splash:
      break;
    case OnboardingStep::language:
      commitLanguage();
      break;
    case OnboardingStep::purpose:
      leavePurpose();
      break;
    case OnboardingStep::accessibility:
      advance(OnboardingStep::tutorialTranslate);
      break;
    case OnboardingStep::tutorialTranslate:
    case OnboardingStep::tutorialQuickTranslate:
    case OnboardingStep::tutorialRefine:
      tutorialNext();
      break;
  }
}

void OnboardingFlow::skipTapped() {
  if (showsSkip()) tutorialNext();
}

void OnboardingFlow::tutorialNext() {
  switch (step_) {
    case OnboardingStep::tutorialTranslate:
      advance(OnboardingStep::tutorialQuickTranslate);
      break;
    case OnboardingStep::tutorialQuickTranslate:
      advance(OnboardingStep::tutorialRefine);
      break;
    case OnboardingStep::tutorialRefine:
      if (finished_) return;
      send(kStepCompletedEvent, {{"step", std::string(stepName(step_))}});
      finish();
      break;
    default:
      break;
  }
}

void OnboardingFlow::leavePurpose() {
  advance(isTrusted_ ? OnboardingStep::tutorialTranslate : OnboardingStep::accessibility);
}

void OnboardingFlow::chooseLanguage(const std::string& code) {
  languageCode_ = code;
  send(kLanguageSelectedEvent, {{"language", code}}, {{"native_language", code}});
  changed();
  timers_.sleep(kChoiceDelay, [this] { commitLanguage(); });
}

void OnboardingFlow::commitLanguage() {
  if (step_ != OnboardingStep::language) return;
  services_.settings.defaults().set(AppSettings::kTargetLanguage, languageCode_);
  advance(OnboardingStep::purpose);
}

void OnboardingFlow::choosePurpose(const std::string& id) {
  purpose_ = id;
  services_.settings.defaults().set(kUserPurposeKey, id);
  send(kPurposeSelectedEvent, {{"purpose", id}}, {{"purpose", id}});
  changed();
  timers_.sleep(kChoiceDelay, [this] {
    if (step_ == OnboardingStep::purpose) leavePurpose();
  });
}

void OnboardingFlow::allowAccessibility() {
  requestedAccessibility_ = true;
  switch (services_.selection.requestAccessibility()) {
    case AccessibilityRequestResult::trusted:
      isTrusted_ = true;
      accessibilitySettingsError_ = false;
      break;
    case AccessibilityRequestResult::settingsOpened:
      accessibilitySettingsError_ = false;
      break;
    case AccessibilityRequestResult::failed:
      accessibilitySettingsError_ = true;
      break;
  }
  changed();
}

void OnboardingFlow::relaunch() {
  services_.hotkeys.disable(hotkeyNames());
  if (services_.relauncher.launchNewInstance()) {
    services_.shell.terminate();
    return;
  }
  services_.hotkeys.enable(hotkeyNames());
  accessibilitySettingsError_ = true;
  changed();
}

void OnboardingFlow::recheckTrust() {
  const bool trusted = services_.accessibility.isTrusted();
  const bool clearsError = trusted && accessibilitySettingsError_;
  if (trusted == isTrusted_ && !clearsError) return;
  isTrusted_ = trusted;
  if (trusted) accessibilitySettingsError_ = false;
  changed();
}

void OnboardingFlow::finish() {
  if (finished_) return;
  finished_ = true;
  services_.settings.defaults().set(AppSettings::kTargetLanguage, languageCode_);
  services_.settings.defaults().set(AppSettings::kHasCompletedOnboarding, true);
  send(kCompletedEvent);
  changed();
  // Moved out first: the callback closes the window that holds this flow.
  auto onFinish = std::move(onFinish_);
  onFinish_ = nullptr;
  if (onFinish) onFinish();
}

}  // namespace quorvelle
