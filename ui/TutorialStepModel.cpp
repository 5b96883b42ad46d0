#include "ui/TutorialStepModel.h"

#include <array>
#include <utility>

#include "ui/SettingsModel.h"

namespace quorvelle {
namespace {

constexpr std::string_view kTranslateWord = "serendipity";

struct Draft {
  std::string_view code;
  std::string_view text;
};

// Each mixes the native language with English and carries the mistakes refining is meant to fix.
constexpr std::array<Draft, 5> kDrafts{{
    {"ru", "мне нужно fix этот text, он написан very плохо"},
    {"uk", "мені треба fix цей text, він написаний very погано"},
    {"es", "necesito fix este texto, está escrito very mal"},
    {"de", "ich muss diesen text fixen, er ist very schlecht geschrieben"},
    {"fr", "je dois fix ce texte, il est écrit very mal"},
}};
constexpr std::string_view kEnglishDraft = "i has wrote this sentense very fast, plz make it more better";

}  // namespace

std::string_view TutorialStepModel::refineSample(std::string_view languageCode) {
  for (const Draft& draft : kDrafts) {
    if (draft.code == languageCode) return draft.text;
  }
  return kEnglishDraft;
}

TutorialStepModel::TutorialStepModel(TutorialAction action, std::string languageCode, bool& done,
                                     const WindowServices& services, Analytics& analytics)
    : action_(action),
      languageCode_(std::move(languageCode)),
      done_(done),
      services_(services),
      analytics_(analytics) {
  if (action_ == TutorialAction::translate) sample_ = std::string(kTranslateWord);
  // Filled even while the key prompt shows, so that the draft is ready once the key is saved.
  if (action_ == TutorialAction::refine) sample_ = std::string(refineSample(languageCode_));

  if (page().needsGeminiKey) {
    services_.geminiKey.readKey(
        [alive = std::weak_ptr<bool>(alive_), this](platform::SecretReadResult result) {
          if (!alive.lock()) return;
          keyChecked_ = true;
          // A keyring that cannot be read leaves the prompt up, where a save says whether it works.
          hasGeminiKey_ = result.status == platform::SecretStatus::ok;
          changed();
        });
  }

  completionObserver_ = services_.notifications.addObserver(std::string(page().completingNotification),
                                                            [this](const platform::Notification&) {
                                                              if (done_) return;
                                                              done_ = true;
                                                              changed();
                                                            });
}

TutorialStepModel::~TutorialStepModel() = default;

void TutorialStepModel::changed() {
  if (onChange_) onChange_();
}

void TutorialStepModel::setSample(const std::string& text) {
  // The word to translate stays as it is, whatever is typed over it.
  if (action_ != TutorialAction::refine) {
    changed();
    return;
  }
  if (text == sample_) return;
  sample_ = text;
  changed();
}

void TutorialStepModel::hotkeyChanged() {
  if (!analytics_.enabled()) return;
  analytics_.capture(std::string(kHotkeyCustomizedEvent), {{"action", std::string(page().shortcutName)}});
}

void TutorialStepModel::addKey() {
  if (editingKey_) return;
  editingKey_ = true;
  changed();
}

void TutorialStepModel::setKeyInput(const std::string& input) {
  if (input == keyInput_) return;
  keyInput_ = input;
  changed();
}

bool TutorialStepModel::canSaveKey() const {
  return !keyBusy_ && GeminiKeyManager::keyToStore(keyInput_).has_value();
}

void TutorialStepModel::saveKey() {
  if (keyBusy_) return;
  // Busy before asking, in case the answer comes at once.
  keyBusy_ = true;
  const bool saving = services_.geminiKey.saveKey(
      keyInput_, [alive = std::weak_ptr<bool>(alive_), this](platform::SecretStatus status) {
        if (!alive.lock()) return;
        keyBusy_ = false;
        if (status == platform::SecretStatus::ok) {
          hasGeminiKey_ = true;
          editingKey_ = false;
          keyInput_.clear();
          keyMessage_.clear();
        } else {
          keyMessage_ = std::string(status == platform::SecretStatus::unavailable
                                        ? GeminiKeyManager::kKeyringUnavailable
                                        : GeminiKeyManager::kSaveFailed);
        }
        changed();
      });
  if (!saving) {
    // Blank input: nothing stored, nothing changes.
    keyBusy_ = false;
    return;
  }
  if (keyBusy_) changed();
}

void TutorialStepModel::openKeyPage() {
  services_.workspace.openURL(SettingsModel::kKeyPageURL);
}

}  // namespace quorvelle
