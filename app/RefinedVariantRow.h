#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QLabel;

namespace quorvelle {

class MiniActionButton;

// One variant of a refine reply: its text in a row that a click puts in place of the selection. While
// the pointer is over the row it is tinted and shows a strip of two buttons at its top-right corner,
// Copy and Replace. Every action passes this row's variant, never the whole reply. Main thread.
class RefinedVariantRow : public QWidget {
 public:
  using TextAction = std::function<void(const std::string&)>;

  RefinedVariantRow(std::string variant, TextAction onCopy, TextAction onReplace, QWidget* parent = nullptr);

  const std::string& variant() const { return variant_; }
  bool isHovering() const { return hovering_; }
  // Hover enters and leaves go through here; the gallery sets it to show the strip.
  void setHovering(bool hovering);
  MiniActionButton* copyButton() const { return copyButton_; }
  MiniActionButton* replaceButton() const { return replaceButton_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void placeStrip();

  std::string variant_;
  TextAction onCopy_;
  TextAction onReplace_;
  bool hovering_ = false;
  bool pressed_ = false;
  QLabel* label_;
  QWidget* strip_;
  MiniActionButton* copyButton_;
  MiniActionButton* replaceButton_;
};

}  // namespace quorvelle
