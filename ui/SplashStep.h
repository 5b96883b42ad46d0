#pragma once

#include <QWidget>
#include <functional>

#include "platform/CancelToken.h"
#include "platform/MainExecutor.h"

class QLabel;

namespace quorvelle {

// The onboarding's welcome page: the application's icon and name. A click anywhere on it, or 1.8 s
// after it came on screen, calls `onDone`; the timed call is dropped once the page is gone.
//
// Main thread only; the executor must outlive the page.
class SplashStep final : public QWidget {
 public:
  static constexpr std::chrono::milliseconds kDelay{1800};
  static constexpr int kIconSize = 128;
  static constexpr int kNameSize = 34;

  SplashStep(std::function<void()> onDone, platform::MainExecutor& executor, QWidget* parent = nullptr);
  ~SplashStep() override;

  QLabel* icon() const { return icon_; }
  QLabel* name() const { return name_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::function<void()> onDone_;
  platform::MainExecutor& executor_;
  platform::CancelToken timer_;
  bool scheduled_ = false;
  QLabel* icon_;
  QLabel* name_;
};

}  // namespace quorvelle
