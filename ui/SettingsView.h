#pragma once

#include <QWidget>
#include <functional>

#include "ui/SettingsModel.h"
#include "ui/WindowServices.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QStackedWidget;

namespace GlobalShortcuts {
class Recorder;
}

namespace quorvelle {

// The settings window's root view, 640 by 460: a sidebar with the two panes, the selected pane
// ("Translating": language, pronunciation, the translate shortcut; "Refining": the refine shortcut, the
// Gemini key, the prompt) and, while the accessibility permission is missing, a bar to grant it. What it
// shows and does is the SettingsModel's; the view only draws it and passes the user's changes on. Each
// appearance (a show that the program asked for, not one the window system reports) re-reads and saves.
//
// Needs the shortcuts package's environment installed for its whole life (its recorders store and
// register the shortcuts themselves). Main thread only; the services must outlive the view.
class SettingsView final : public QWidget {
 public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 460;
  static constexpr int kSidebarWidth = 176;
  using Pane = SettingsModel::Pane;
  static constexpr Pane translating = Pane::translating;
  static constexpr Pane refining = Pane::refining;

  explicit SettingsView(const WindowServices& services, QWidget* parent = nullptr);
  ~SettingsView() override;

  QSize sizeHint() const override { return {kWidth, kHeight}; }
  SettingsModel& model() { return model_; }
  Pane currentPane() const { return model_.pane(); }

  // The controls, for tests and for the gallery.
  QAbstractButton* paneButton(Pane pane) const;
  QWidget* paneWidget(Pane pane) const;
  QComboBox* languagePicker() const { return language_; }
  QComboBox* accentPicker() const { return accent_; }
  QCheckBox* autoPlayToggle() const { return autoPlay_; }
  QSlider* volumeSlider() const { return volume_; }
  QLabel* volumePercent() const { return volumePercent_; }
  GlobalShortcuts::Recorder* translateRecorder() const { return translateRecorder_; }
  GlobalShortcuts::Recorder* refineRecorder() const { return refineRecorder_; }
  QLineEdit* geminiKeyField() const { return keyField_; }
  QPushButton* saveKeyButton() const { return saveKey_; }
  QLabel* keyCaption() const { return keyCaption_; }
  QWidget* keyEntry() const { return keyEntry_; }
  QWidget* keyStored() const { return keyStored_; }
  QLabel* maskedKey() const { return maskedKey_; }
  QPushButton* removeKeyButton() const { return removeKey_; }
  QLabel* keyMessage() const { return keyMessage_; }
  QPlainTextEdit* promptEditor() const { return prompt_; }
  QPushButton* resetPromptButton() const { return resetPrompt_; }
  QWidget* accessibilityBar() const { return accessibilityBar_; }
  QPushButton* grantButton() const { return grant_; }
  QLabel* accessibilityHelp() const { return accessibilityHelp_; }
  QPushButton* quitButton() const { return quit_; }

  // Shows "Quit Quorvelle" at the foot of the sidebar, running `quit`: for a desktop without a tray, where
  // the menu that holds the program's Quit is nowhere. Unset (the default), the button is hidden.
  void setQuitAction(std::function<void()> quit);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QWidget* makeSidebar();
  QWidget* makeTranslatingPane();
  QWidget* makeRefiningPane();
  QWidget* makeKeySection(QWidget* parent);
  QWidget* makeAccessibilityBar();
  // Brings every control in line with the model, without reporting those updates back as changes.
  void refresh();

  SettingsModel model_;
  QAbstractButton* translatingButton_ = nullptr;
  QAbstractButton* refiningButton_ = nullptr;
  QStackedWidget* panes_ = nullptr;
  QWidget* translatingPane_ = nullptr;
  QWidget* refiningPane_ = nullptr;
  QComboBox* language_ = nullptr;
  QComboBox* accent_ = nullptr;
  QCheckBox* autoPlay_ = nullptr;
  QSlider* volume_ = nullptr;
  QLabel* volumePercent_ = nullptr;
  GlobalShortcuts::Recorder* translateRecorder_ = nullptr;
  GlobalShortcuts::Recorder* refineRecorder_ = nullptr;
  QWidget* keyEntry_ = nullptr;
  QLineEdit* keyField_ = nullptr;
  QPushButton* saveKey_ = nullptr;
  QLabel* keyCaption_ = nullptr;
  QWidget* keyStored_ = nullptr;
  QLabel* maskedKey_ = nullptr;
  QPushButton* removeKey_ = nullptr;
  QLabel* keyMessage_ = nullptr;
  QPlainTextEdit* prompt_ = nullptr;
  QPushButton* resetPrompt_ = nullptr;
  QWidget* accessibilityBar_ = nullptr;
  QPushButton* grant_ = nullptr;
  QLabel* accessibilityHelp_ = nullptr;
  QPushButton* quit_ = nullptr;
  std::function<void()> quitAction_;
};

}  // namespace quorvelle
