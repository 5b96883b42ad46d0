#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/Analytics.h"
#include "platform/NotificationCenter.h"
#include "ui/TutorialAction.h"
#include "ui/WindowServices.h"

namespace quorvelle {

// One tutorial page's state and actions, apart from its widgets. A page makes one when it comes on
// screen and drops it when it leaves, so that showing the page again starts afresh: the key is read
// again, the key prompt is closed and the refine draft is filled again.
//
// Completion: the page's completing notification sets the flow's `done` once; other notifications, and
// repeats once it is set, change nothing. The page never sets it back.
//
// The key prompt (refine page, no key stored): "Save" stores the trimmed input through the key manager;
// only when the keyring says it stored it does the prompt give way to the practice draft. A refusal keeps
// the prompt, the form and the input and sets `keyMessage`, so that the user is never told a key is
// stored when it is not. While the keyring is asked, the prompt takes no other save.
//
// Main thread only. `done` belongs to the flow; it, the services and the analytics must outlive the
// model. Keyring answers that come after the model are dropped.
class TutorialStepModel {
 public:
  static constexpr std::string_view kHotkeyCustomizedEvent = "onboarding_hotkey_customized";

  TutorialStepModel(TutorialAction action, std::string languageCode, bool& done,
                    const WindowServices& services, Analytics& analytics);
  ~TutorialStepModel();
  TutorialStepModel(const TutorialStepModel&) = delete;
  TutorialStepModel& operator=(const TutorialStepModel&) = delete;

  // The practice draft for a native-language code: exact, case-sensitive codes; any other gives English.
  static std::string_view refineSample(std::string_view languageCode);

  // Called after any state below changed, for the view to show it. `completed` is also called, first,
  // when the page's notification sets `done`, for the view to animate it.
  void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

  TutorialAction action() const { return action_; }
  const TutorialPage& page() const { return tutorialPage(action_); }
  bool done() const { return done_; }

  // The key prompt stands in for the instruction row and the practice draft.
  bool showsKeyPrompt() const { return page().needsGeminiKey && keyChecked_ && !hasGeminiKey_; }
  bool hasGeminiKey() const { return hasGeminiKey_; }
  // Whether the keyring has answered whether a key is stored (always true on pages that need none).
  bool keyChecked() const { return !page().needsGeminiKey || keyChecked_; }

  const std::string& sample() const { return sample_; }
  // What the practice field holds after an edit: the translate page's word never changes.
  void setSample(const std::string& text);

  // The recorder reported a new or cleared shortcut.
  void hotkeyChanged();

  bool editingKey() const { return editingKey_; }
  void addKey();
  const std::string& keyInput() const { return keyInput_; }
  void setKeyInput(const std::string& input);
  bool keyBusy() const { return keyBusy_; }
  bool canSaveKey() const;
  void saveKey();
  // Empty unless the keyring refused the last save.
  const std::string& keyMessage() const { return keyMessage_; }
  void openKeyPage();

 private:
  void changed();

  const TutorialAction action_;
  const std::string languageCode_;
  bool& done_;
  WindowServices services_;
  Analytics& analytics_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::function<void()> onChange_;

  bool keyChecked_ = false;
  bool hasGeminiKey_ = false;
  std::string sample_;
  bool editingKey_ = false;
  std::string keyInput_;
  bool keyBusy_ = false;
  std::string keyMessage_;

  platform::NotificationCenter::Token completionObserver_;
};

}  // namespace quorvelle
