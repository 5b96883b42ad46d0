#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/Analytics.h"
#include "ui/TutorialStepModel.h"
#include "ui/WindowServices.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace GlobalShortcuts {
class Recorder;
}

namespace quorvelle {

class AnimationView;
class TutorialSample;

// One hands-on page of onboarding: a title, the page's animation (none for quick translate) and a card
// that asks the user to perform the action with its real hot key on a practice text, with the shortcut's
// recorder in place; on the refine page without a stored key the card asks for the key first. The page
// completes when the application core announces the action; it never performs it itself.
//
// The page's state lives as long as the widget: the flow makes a new page each time it shows one, so that
// a page shown again reads the key again and fills its draft afresh. `done` is the flow's; the page sets
// it on completion and never clears it.
//
// Needs the shortcuts package's environment installed for its whole life. Main thread only; `done`, the
// services and the analytics must outlive the page.
class TutorialStep final : public QWidget {
 public:
  static constexpr int kCardMaxWidth = 560;

  TutorialStep(TutorialAction action, std::string languageCode, bool& done, const WindowServices& services,
               Analytics& analytics, QWidget* parent = nullptr);
  ~TutorialStep() override;

  static std::string_view refineSample(std::string_view languageCode) {
    return TutorialStepModel::refineSample(languageCode);
  }

  const TutorialStepModel& model() const { return *model_; }
  // Whether changes of the page ease in (the done look with a spring, the key prompt giving way with an
  // ease-out, the draft's done look with its own ease-out) or show at once. On by default.
  void setAnimated(bool animated);
  // Called once the page's action has been performed, after the page shows it: where the flow enables
  // its Continue.
  void setOnDone(std::function<void()> onDone) { onDone_ = std::move(onDone); }

  // Parts, for tests and the gallery; null where the page has none.
  QLabel* title() const { return title_; }
  AnimationView* animation() const { return animation_; }
  TutorialSample* sample() const { return sample_; }
  GlobalShortcuts::Recorder* recorder() const { return recorder_; }
  QLabel* statusSymbol() const { return status_; }
  QWidget* keyPrompt() const { return keyPrompt_; }
  QPushButton* addKeyButton() const { return addKey_; }
  QLineEdit* keyField() const { return keyField_; }
  QPushButton* saveKeyButton() const { return saveKey_; }
  QLabel* keyLink() const { return keyLink_; }
  QLabel* keyMessage() const { return keyMessage_; }
  // The sentence around the recorder, as it wraps within the card.
  QWidget* instruction() const { return instruction_; }
  QWidget* card() const;
  // The green outline's opacity as drawn: 0 while pending, 0.5 once done.
  double doneBorderOpacity() const;

 private:
  class AnimationArea;
  class Card;

  QWidget* makeInstructionRow(QWidget* parent);
  QWidget* makeKeyPrompt(QWidget* parent);
  void refresh();

  std::unique_ptr<TutorialStepModel> model_;
  QLabel* title_ = nullptr;
  AnimationView* animation_ = nullptr;
  AnimationArea* animationArea_ = nullptr;
  Card* card_ = nullptr;
  QWidget* cardPages_ = nullptr;
  QWidget* practice_ = nullptr;
  TutorialSample* sample_ = nullptr;
  QWidget* instruction_ = nullptr;
  GlobalShortcuts::Recorder* recorder_ = nullptr;
  QLabel* status_ = nullptr;
  QWidget* keyPrompt_ = nullptr;
  QWidget* keyAsk_ = nullptr;
  QWidget* keyForm_ = nullptr;
  QPushButton* addKey_ = nullptr;
  QLineEdit* keyField_ = nullptr;
  QPushButton* saveKey_ = nullptr;
  QLabel* keyLink_ = nullptr;
  QLabel* keyMessage_ = nullptr;
  std::function<void()> onDone_;
  bool shownDone_ = false;
  bool animated_ = true;
  bool keyDecided_ = false;
};

}  // namespace quorvelle
