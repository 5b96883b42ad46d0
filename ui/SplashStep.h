#pragma once

#include <QPixmap>
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

  static constexpr int kAppearMs = 600;

  // `appearMs`: how long the icon and name take to come in; 0 shows them at once.
  SplashStep(std::function<void()> onDone, platform::MainExecutor& executor, int appearMs = kAppearMs,
             QWidget* parent = nullptr);
  ~SplashStep() override;

  // Before the page shows.
  void setAppearDuration(int milliseconds) { appearMs_ = milliseconds; }

  QLabel* icon() const { return icon_; }
  QLabel* name() const { return name_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  static constexpr double kHiddenScale = 0.6;
  static constexpr int kNameDrop = 10;

  // 0 before the entrance, 1 after (a little beyond on the way, as the curve overshoots).
  void setAppearance(double progress);

  std::function<void()> onDone_;
  platform::MainExecutor& executor_;
  platform::CancelToken timer_;
  int appearMs_;
  bool scheduled_ = false;
  QPixmap iconPicture_;
  QLabel* icon_;
  QLabel* name_;
};

}  // namespace quorvelle
