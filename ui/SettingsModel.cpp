#include "ui/SettingsModel.h"

#include <cmath>
#include <utility>

#include "app/AppNotifications.h"
#include "app/SelectionCapture.h"
#include "platform/AppNotifications.h"
#include "ui/AccessibilityHelp.h"

namespace quorvelle {
namespace {

constexpr const char* kNoAccessibilityPage = "No settings page grants this permission on Linux.";

}  // namespace

SettingsModel::SettingsModel(const WindowServices& services) : services_(services) {
  readSettings();
  hasAccessibility_ = services_.accessibility.isTrusted();
  readKey();
  activeObserver_ =
      services_.notifications.addObserver(std::string(platform::notifications::applicationDidBecomeActive),
                                          [this](const platform::Notification&) {
                                            hasAccessibility_ = services_.accessibility.isTrusted();
                                            if (hasAccessibility_) accessibilityHelp_.clear();
                                            changed();
                                          });
  focusObserver_ =
      services_.notifications.addObserver(std::string(notifications::kFocusGeminiApiKey),
                                          [this](const platform::Notification&) { focusGeminiApiKey(); });
}

SettingsModel::~SettingsModel() = default;

std::function<void()> SettingsModel::whileAlive(std::function<void()> action) const {
  return [alive = std::weak_ptr<bool>(alive_), action = std::move(action)] {
    if (alive.lock()) action();
  };
}

void SettingsModel::changed() {
  if (onChange_) onChange_();
}

void SettingsModel::readSettings() {
  const AppSettings& settings = services_.settings;
  languageCode_ = settings.targetLanguage();
  accent_ = settings.accent();
  autoPlayPronunciation_ = settings.autoPlayPronunciation();
  pronunciationVolume_ = settings.pronunciationVolume();
  refinePrompt_ = settings.refinePrompt();
}

void SettingsModel::readKey() {
  services_.geminiKey.readKey([alive = std::weak_ptr<bool>(alive_), this](platform::SecretReadResult result) {
    if (!alive.lock()) return;
    switch (result.status) {
      case platform::SecretStatus::ok:
        hasGeminiKey_ = true;
        maskedKey_ = GeminiKeyManager::mask(result.value);
        keyMessage_.clear();
        break;
      case platform::SecretStatus::notFound:
        hasGeminiKey_ = false;
        maskedKey_.reset();
        keyMessage_.clear();
        break;
      case platform::SecretStatus::failed:
        // Not "no key": the section stays as it was and says why it cannot tell.
        keyMessage_ = std::string(GeminiKeyManager::kKeyringDidNotAnswer);
        break;
      case platform::SecretStatus::unavailable:
        keyMessage_ = std::string(GeminiKeyManager::kKeyringUnavailable);
        break;
    }
    changed();
  });
}

void SettingsModel::appear() {
  shown_ = true;
  readSettings();
  readKey();
  save();
  changed();
}

void SettingsModel::disappear() {
  shown_ = false;
}

void SettingsModel::save() {
  platform::UserDefaults& defaults = services_.settings.defaults();
  defaults.set(AppSettings::kTargetLanguage, languageCode_);
  defaults.set(AppSettings::kAccent, accent_);
  defaults.set(AppSettings::kAutoPlayPronunciation, autoPlayPronunciation_);
  defaults.set(AppSettings::kPronunciationVolume, pronunciationVolume_);
  defaults.set(AppSettings::kRefinePrompt, refinePrompt_);
}

template <class T>
void SettingsModel::change(T& setting, const T& value) {
  // A value the user did not change is no change: nothing is written.
  if (setting == value) return;
  setting = value;
  save();
  changed();
}

void SettingsModel::setLanguageCode(const std::string& code) {
  change(languageCode_, code);
}

void SettingsModel::setAccent(const std::string& accent) {
  change(accent_, accent);
}

void SettingsModel::setAutoPlayPronunciation(bool on) {
  change(autoPlayPronunciation_, on);
}

void SettingsModel::setPronunciationVolume(double volume) {
  change(pronunciationVolume_, volume);
}

void SettingsModel::setRefinePrompt(const std::string& prompt) {
  change(refinePrompt_, prompt);
}

std::string SettingsModel::percentText(double volume) {
  return std::to_string(std::llround(volume * 100)) + "%";
}

std::string SettingsModel::volumePercentText() const {
  return percentText(pronunciationVolume_);
}

bool SettingsModel::resetPromptEnabled() const {
  return refinePrompt_ != AppSettings::defaultRefinePrompt();
}

void SettingsModel::resetPrompt() {
  setRefinePrompt(AppSettings::defaultRefinePrompt());
}

void SettingsModel::selectPane(Pane pane) {
  if (pane == pane_) return;
  pane_ = pane;
  changed();
}

void SettingsModel::grantAccessibility() {
  // The bar itself changes only when the application next becomes active.
  if (services_.accessibility.isTrusted()) return;
  if (services_.accessibility.openURL(SelectionCapture::privacyPaneURL)) return;
  accessibilityHelp_ = std::string(kNoAccessibilityPage) + " " + kAccessibilityHowTo;
  changed();
}

std::string SettingsModel::maskedKeyText() const {
  return maskedKey_.value_or("saved");
}

void SettingsModel::setGeminiKeyInput(const std::string& input) {
  if (input == geminiKeyInput_) return;
  geminiKeyInput_ = input;
  changed();
}

bool SettingsModel::canSaveGeminiKey() const {
  return !keyBusy_ && GeminiKeyManager::keyToStore(geminiKeyInput_).has_value();
}

void SettingsModel::saveGeminiKey() {
  if (keyBusy_) return;
  const auto key = GeminiKeyManager::keyToStore(geminiKeyInput_);
  if (!key) return;
  keyBusy_ = true;
  changed();
  services_.geminiKey.saveKey(*key, [alive = std::weak_ptr<bool>(alive_), this,
                                     masked = GeminiKeyManager::mask(*key)](platform::SecretStatus status) {
    if (!alive.lock()) return;
    keyBusy_ = false;
    if (status == platform::SecretStatus::ok) {
      geminiKeyInput_.clear();
      hasGeminiKey_ = true;
      maskedKey_ = masked;
      keyMessage_.clear();
    } else {
      keyMessage_ =
          std::string(status == platform::SecretStatus::unavailable ? GeminiKeyManager::kKeyringUnavailable
                                                                    : GeminiKeyManager::kSaveFailed);
    }
    changed();
  });
}

void SettingsModel::removeGeminiKey() {
  if (keyBusy_) return;
  keyBusy_ = true;
  changed();
  services_.geminiKey.removeKey([alive = std::weak_ptr<bool>(alive_), this](platform::SecretStatus status) {
    if (!alive.lock()) return;
    keyBusy_ = false;
    if (status == platform::SecretStatus::failed || status == platform::SecretStatus::unavailable) {
      keyMessage_ =
          std::string(status == platform::SecretStatus::unavailable ? GeminiKeyManager::kKeyringUnavailable
                                                                    : GeminiKeyManager::kRemoveFailed);
    } else {
      // Gone, whether this call removed it or it was already gone.
      hasGeminiKey_ = false;
      maskedKey_.reset();
      keyMessage_.clear();
    }
    changed();
  });
}

void SettingsModel::openKeyPage() {
  services_.workspace.openURL(kKeyPageURL);
}

void SettingsModel::focusGeminiApiKey() {
  if (!shown_) return;
  selectPane(Pane::refining);
  // On a later turn, after the view has shown the pane; in the stored state there is no field.
  services_.executor.post(whileAlive([this] {
    if (!hasGeminiKey_ && onFocusKeyField_) onFocusKeyField_();
  }));
}

}  // namespace quorvelle
