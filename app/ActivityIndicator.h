#pragma once

#include <QTimer>
#include <QWidget>

namespace quorvelle {

// An indeterminate progress indicator: a ring of fading spokes that turns while the widget is shown.
// `diameter` is 16 for the small size and 10 for the mini size. Main thread.
class ActivityIndicator : public QWidget {
 public:
  explicit ActivityIndicator(int diameter, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {diameter_, diameter_}; }
  bool isAnimating() const { return timer_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  int diameter_;
  int step_ = 0;
  QTimer timer_;
};

}  // namespace quorvelle
