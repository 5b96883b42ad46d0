#pragma once

#include <QColor>
#include <QPen>
#include <QPlainTextEdit>

class QSequentialAnimationGroup;
class QVariantAnimation;

namespace quorvelle {

// The practice field of a tutorial page: a text editor, sized for a number of lines, that never scrolls,
// so that the application core selects in it and pastes into it as in any other program.
//
// Two looks, chosen by `done`: pending (accent fill at 0.12, a dashed 6/4 accent border whose opacity
// breathes between 0.35 and 0.9 over 1.1 s each way for as long as the field is shown) and done (green
// fill at 0.12, solid green border at 0.7). A shown field eases from one look to the other over 0.25 s
// (setEasingDuration(), 0 for at once).
//
// A fixed field shows one text whatever is typed, yet keeps mouse and keyboard selection, so that the
// hot key reads what the user selected there.
//
// Main thread only.
class TutorialSample : public QPlainTextEdit {
 public:
  static constexpr int kLineHeight = 23;
  static constexpr int kExtraHeight = 21;
  static constexpr double kPulseSeconds = 1.1;
  static constexpr double kQuietOpacity = 0.35;
  static constexpr double kLoudOpacity = 0.9;
  static constexpr int kDoneEasingMs = 250;

  enum class Editing { editable, fixed };

  TutorialSample(const QString& text, Editing editing, int lines, QWidget* parent = nullptr);
  ~TutorialSample() override;

  static int heightFor(int lines) { return lines * kLineHeight + kExtraHeight; }
  static QColor doneColor();

  bool done() const { return done_; }
  void setDone(bool done);
  void setEasingDuration(int milliseconds) { easingMs_ = milliseconds; }
  // 0 (pending look) ... 1 (done look): where the look is drawn, eased towards `done`.
  double doneProgress() const { return doneProgress_; }

  // 0 (quiet) ... 1 (loud): where the pending border's breathing is.
  double pulse() const { return pulse_; }
  void setPulse(double pulse);

  // The look of `done` (once any easing has ended).
  QColor fillColor() const;
  QPen borderPen() const;

 protected:
  bool event(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QColor accent() const;
  QColor fillColor(bool done) const;
  QPen borderPen(bool done) const;

  bool done_ = false;
  double doneProgress_ = 0;
  double pulse_ = 0;
  int easingMs_ = kDoneEasingMs;
  QSequentialAnimationGroup* pulseAnimation_ = nullptr;
  QVariantAnimation* doneEasing_ = nullptr;
};

}  // namespace quorvelle
