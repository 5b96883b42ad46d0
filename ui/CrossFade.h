#pragma once

#include <QEasingCurve>
#include <QPixmap>
#include <QWidget>

class QVariantAnimation;

namespace quorvelle {

// Fades a widget's old look out over its new one: made just before the widget changes (a page of a
// stack switched, a symbol replaced), it covers the widget with a picture of how it looked and lets that
// picture go transparent, then deletes itself. It takes no input, and is clipped to the widget, so a
// widget that changes size meanwhile never shows the old look outside itself.
//
// Main thread only; owned by the widget it covers.
class CrossFade final : public QWidget {
 public:
  // Starts the fade over `target` for `milliseconds` with `curve`; does nothing when `milliseconds` is 0
  // or the target is not on screen. The fade's animation is a child of the fade named `name`, for tests
  // that follow it.
  static CrossFade* start(QWidget* target, int milliseconds, const QEasingCurve& curve, const QString& name);

  QVariantAnimation* animation() const { return animation_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CrossFade(QWidget* target, QPixmap look);

  QPixmap look_;
  double opacity_ = 1;
  QVariantAnimation* animation_ = nullptr;
};

}  // namespace quorvelle
