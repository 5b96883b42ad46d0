#pragma once

#include <QAbstractButton>
#include <QVariantAnimation>
#include <optional>
#include <string>

class QLabel;

namespace quorvelle {

// A selectable card of the onboarding's choices: an emoji (or, without one, a symbol), a title and an
// optional detail line. A click anywhere on the card calls `clicked`; the card never selects itself, the
// flow tells it whether it is the current choice. Under the pointer an unselected card grows a little and
// its border darkens.
//
// Main thread only.
class ChoiceCard final : public QAbstractButton {
 public:
  static constexpr double kHoverScale = 1.015;
  static constexpr int kEasingMs = 150;
  static constexpr int kHorizontalPadding = 14;
  static constexpr int kPaddingWithDetail = 14;
  static constexpr int kPaddingWithoutDetail = 12;

  ChoiceCard(std::optional<std::string> symbol, std::optional<std::string> emoji, const QString& title,
             const QString& detail, QWidget* parent = nullptr);

  void setSelected(bool selected);
  // How long hover and selection changes ease; 0 shows them at once.
  void setEasingDuration(int milliseconds) { easingMs_ = milliseconds; }
  bool isSelected() const { return selected_; }
  bool isHovering() const { return hovering_; }
  // 1.015 while the pointer is over an unselected card, 1 otherwise.
  double scale() const { return hovering_ && !selected_ ? kHoverScale : 1.0; }
  // The leading visual as drawn: the emoji when there is one, else the symbol's name; empty for none.
  QString leading() const;
  int verticalPadding() const { return detail_ ? kPaddingWithDetail : kPaddingWithoutDetail; }

  QLabel* titleLabel() const { return title_; }
  QLabel* detailLabel() const { return detail_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }
  // A wrapped detail line grows with a narrower card.
  bool hasHeightForWidth() const override { return detail_ != nullptr; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void easeToState();
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  // The whole card is its hit area.
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  std::optional<std::string> symbol_;
  std::optional<std::string> emoji_;
  QLabel* leading_ = nullptr;
  QLabel* title_;
  QLabel* detail_ = nullptr;
  bool selected_ = false;
  bool hovering_ = false;
  // What is drawn, easing towards scale() and the selected look over 0.15 s.
  double drawnScale_ = 1.0;
  double drawnSelection_ = 0.0;
  QVariantAnimation* easing_;
  int easingMs_ = kEasingMs;
};

}  // namespace quorvelle
