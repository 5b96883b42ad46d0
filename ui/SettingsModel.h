#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/NotificationCenter.h"
#include "ui/WindowServices.h"

namespace quorvelle {

// The settings window's state and actions, apart from its widgets: the five settings with their writes,
// the selected pane, the accessibility bar, and the Gemini key section.
//
// Writes: save() writes all five settings in a fixed order. It runs on every appearance and after every
// change made through a setter that really changes a value; filling the state from storage never writes.
// Each appearance first reads the five settings and the key's presence again, so that what onboarding or
// the tutorial stored meanwhile is shown and kept rather than overwritten.
//
// The key section: "Save" stores the trimmed input; only when the keyring says it stored it does the
// section switch to the stored state, and only when it says the key is gone does "Remove" switch back.
// A refusal keeps the state and the input and sets `keyMessage`. While a keyring call is under way the
// section takes no other call (`keyBusy`). Keyring answers may come later than the call.
//
// Main thread only. The services must outlive the model; answers that come after it are dropped.
class SettingsModel {
 public:
  enum class Pane { translating, refining };

  static constexpr std::string_view kKeyPageURL = "https://aistudio.google.com/app/apikey";

  explicit SettingsModel(const WindowServices& services);
  ~SettingsModel();
  SettingsModel(const SettingsModel&) = delete;
  SettingsModel& operator=(const SettingsModel&) = delete;

  // Called after any state below changed, for the view to show it.
  void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
  // Called, on a turn after the pane switch, when a focus request finds the key field to focus.
  void setOnFocusKeyField(std::function<void()> onFocus) { onFocusKeyField_ = std::move(onFocus); }

  // The window was shown: settings and key read again, then everything saved.
  void appear();
  // The window was hidden: focus requests wait for the next appearance.
  void disappear();
  void save();

  const std::string& languageCode() const { return languageCode_; }
  const std::string& accent() const { return accent_; }
  bool autoPlayPronunciation() const { return autoPlayPronunciation_; }
  double pronunciationVolume() const { return pronunciationVolume_; }
  const std::string& refinePrompt() const { return refinePrompt_; }
  void setLanguageCode(const std::string& code);
  void setAccent(const std::string& accent);
  void setAutoPlayPronunciation(bool on);
  void setPronunciationVolume(double volume);
  void setRefinePrompt(const std::string& prompt);

  // The volume as the text beside its slider, e.g. "50%".
  std::string volumePercentText() const;
  static std::string percentText(double volume);
  bool resetPromptEnabled() const;
  void resetPrompt();

  Pane pane() const { return pane_; }
  void selectPane(Pane pane);

  bool hasAccessibility() const { return hasAccessibility_; }
  // Opens the system's accessibility settings, unless the permission is already granted. Where the
  // system has no such page (X11), `accessibilityHelp` says instead what the user can do.
  void grantAccessibility();
  // Empty unless "Grant…" found no settings page to open; cleared once the permission is there.
  const std::string& accessibilityHelp() const { return accessibilityHelp_; }

  // The key section.
  bool hasGeminiKey() const { return hasGeminiKey_; }
  // The masked stored key, or "saved" when it could not be read.
  std::string maskedKeyText() const;
  const std::string& geminiKeyInput() const { return geminiKeyInput_; }
  void setGeminiKeyInput(const std::string& input);
  bool keyBusy() const { return keyBusy_; }
  // Whether "Save" acts: something left after trimming, and no keyring call under way.
  bool canSaveGeminiKey() const;
  void saveGeminiKey();
  void removeGeminiKey();
  // Empty unless the keyring refused the last save or delete, or could not be read.
  const std::string& keyMessage() const { return keyMessage_; }
  void openKeyPage();

 private:
  void readSettings();
  void readKey();
  void focusGeminiApiKey();
  void changed();
  // Sets one of the five settings; when that changes it, saves and tells the view.
  template <class T>
  void change(T& setting, const T& value);
  // Runs `action` only while the model lives.
  std::function<void()> whileAlive(std::function<void()> action) const;

  WindowServices services_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::function<void()> onChange_;
  std::function<void()> onFocusKeyField_;
  bool shown_ = false;

  std::string languageCode_;
  std::string accent_;
  bool autoPlayPronunciation_ = true;
  double pronunciationVolume_ = 0.5;
  std::string refinePrompt_;
  Pane pane_ = Pane::translating;
  bool hasAccessibility_ = false;
  std::string accessibilityHelp_;

  bool hasGeminiKey_ = false;
  std::optional<std::string> maskedKey_;
  std::string geminiKeyInput_;
  bool keyBusy_ = false;
  std::string keyMessage_;

  platform::NotificationCenter::Token activeObserver_;
  platform::NotificationCenter::Token focusObserver_;
};

}  // namespace quorvelle
