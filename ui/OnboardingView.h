#pragma once

#include <functional>

#include <QWidget>

#include "app/Analytics.h"
#include "app/AppSettings.h"

class QComboBox;
class QPushButton;

namespace quorvelle {

// The onboarding window's root view: the user picks the target language and finishes. Finishing stores
// the language, marks onboarding complete, reports "onboarding_completed" and calls `onFinish` once.
// Main thread only; the settings and analytics must outlive the view.
class OnboardingView final : public QWidget {
 public:
  static constexpr std::string_view kCompletedEvent = "onboarding_completed";

  OnboardingView(AppSettings& settings, Analytics& analytics, std::function<void()> onFinish,
                 QWidget* parent = nullptr);

  // What the finish button does.
  void finish();

  QComboBox* languagePicker() const { return language_; }
  QPushButton* finishButton() const { return finish_; }

 private:
  AppSettings& settings_;
  Analytics& analytics_;
  std::function<void()> onFinish_;
  QComboBox* language_;
  QPushButton* finish_;
};

}  // namespace quorvelle
