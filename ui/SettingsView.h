#pragma once

#include <QWidget>

#include "app/AppSettings.h"
#include "app/GeminiKeyManager.h"
#include "platform/MainExecutor.h"
#include "platform/NotificationCenter.h"

class QLineEdit;
class QTabWidget;

namespace quorvelle {

// The settings window's root view: a translating and a refining pane in a 640 by 460 frame, filled from
// the user defaults when made and from the keyring when it answers. While shown,
// "quorvelle.focusGeminiApiKey" switches it to the refining pane and then focuses the Gemini key field. Main
// thread only (the key manager must deliver its reads there); the services must outlive the view.
class SettingsView final : public QWidget {
 public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 460;
  enum Pane { translating = 0, refining = 1 };

  SettingsView(const AppSettings& settings, const GeminiKeyManager& geminiKey,
               platform::NotificationCenter& notifications, platform::MainExecutor& executor,
               QWidget* parent = nullptr);

  QSize sizeHint() const override { return {kWidth, kHeight}; }
  Pane currentPane() const;
  QLineEdit* geminiKeyField() const { return geminiKey_; }

 private:
  void focusGeminiApiKey();

  platform::MainExecutor& executor_;
  QTabWidget* panes_;
  QLineEdit* geminiKey_;
  platform::NotificationCenter::Token focusObserver_;
};

}  // namespace quorvelle
