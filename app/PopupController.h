#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppSettings.h"
#include "app/LookupClient.h"
#include "app/PopupMode.h"
#include "app/PopupModel.h"
#include "app/PopupPlacement.h"
#include "app/SelectionCapture.h"
#include "platform/AudioPlayer.h"
#include "platform/EventMonitors.h"
#include "platform/MainExecutor.h"
#include "platform/NotificationCenter.h"
#include "platform/Pasteboard.h"
#include "platform/PopupPanel.h"
#include "platform/Screens.h"
#include "platform/Task.h"

namespace quorvelle {

// Turns one request into the popup: resets the model, shows the panel next to the pointer, runs the
// backend calls and writes their results into the model, plays pronunciations, copies a variant or puts
// it in place of the selection, and closes the popup on Escape, on a click or scroll elsewhere and after
// a copy or replacement. A replacement in a terminal that has no paste key only puts the variant on the
// clipboard: the popup stays open and says so (the model's notice). It posts
// notifications::kDidTranslateSelection, kDidReplaceRefined and kDidOpenQuickTranslate (AppNotifications.h),
// without user info, for the onboarding tutorial.
//
// One controller lives for the whole program. Main thread only: every public call, every callback and
// every task step runs there. At most one load runs at a time; each new request, each quick-translate
// input and each close cancels it, and a cancelled load writes nothing more.
class PopupController : public std::enable_shared_from_this<PopupController> {
 public:
  static constexpr auto kQuickTranslatePause = std::chrono::milliseconds(350);
  static constexpr auto kPasteDelay = std::chrono::milliseconds(150);

  // What the controller drives. Everything referenced must outlive the controller.
  struct Services {
    platform::MainExecutor& executor;
    platform::NotificationCenter& notifications;
    const LookupClient& lookup;
    platform::PopupPanel& panel;
    const platform::Screens& screens;
    platform::EventMonitors& monitors;
    // The one player of every pronunciation.
    platform::AudioPlayer& audio;
    // Read at the moment each step needs a setting.
    const AppSettings& settings;
    platform::Pasteboard& pasteboard;
    // Sends the paste keystroke of a replacement.
    SelectionCapture& selection;
  };

  // The view's actions. Each holds the controller weakly and does nothing once it is gone.
  struct ViewCallbacks {
    std::function<void()> onPlayAudio;
    std::function<void(const std::string& text)> onCopy;
    std::function<void(const std::string& text)> onReplace;
    // Quick translate's input changed; the view has already stored it as the model's sourceText.
    std::function<void(const std::string& text)> onInput;
    std::function<void()> onToggleTarget;
  };

  static std::shared_ptr<PopupController> create(Services services);
  ~PopupController();
  PopupController(const PopupController&) = delete;
  PopupController& operator=(const PopupController&) = delete;

  // Shows the popup for a non-empty selection, in translate or refine mode.
  void show(const std::string& text, PopupMode mode);
  // Shows the empty type-to-translate popup, with keyboard focus in it.
  void showQuickTranslate();
  // Shows the popup for `text` in `mode` with `message` in place of a result, and loads nothing.
  void showError(const std::string& text, PopupMode mode, const std::string& message);
  // Quick translate's input changed: translated after a pause in typing. Ignored in other modes.
  void quickTranslateInput(const std::string& text);
  // Switches quick translate between English and Russian and translates the input again. Ignored in
  // other modes.
  void toggleQuickTarget();
  // Closes the popup: cancels the load, pauses the pronunciation, removes the monitors, hides the panel.
  // The model keeps its content until the next popup.
  void dismiss();

  const PopupModel& model() const { return model_; }
  PopupModel& model() { return model_; }
  ViewCallbacks viewCallbacks();

  // The dictionary word that `text` is, lower-cased: after trimming, 1 to 32 user-perceived characters,
  // each a letter or mark of any script, a hyphen or an apostrophe (' or ’). Nothing otherwise.
  static std::optional<std::string> dictionaryWord(std::string_view text);

 private:
  explicit PopupController(Services services);
  void start();

  void load(const platform::Task& task, const std::string& text, const std::optional<std::string>& word);
  void loadRefinement(const platform::Task& task, const std::string& text);
  void loadQuickTranslation(const platform::Task& task, const std::string& text);
  void finishLoad();
  void playAudio();
  void copy(const std::string& text);
  void replaceSelection(const std::string& text);
  void installDismissMonitors();
  void removeDismissMonitors();
  void showPanel(bool takeFocus);
  void resizeToFitContent();

  Services services_;
  PopupModel model_;
  std::vector<platform::EventMonitors::Token> dismissMonitors_;
  platform::Task loadTask_;
};

}  // namespace quorvelle
