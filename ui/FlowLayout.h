#pragma once

#include <QLayout>
#include <QList>

namespace quorvelle {

// Lays its items out as text flows: left to right at their preferred sizes, `spacing` apart, going on
// to the next line (`lineSpacing` below) when the next item does not fit in what is left of the line.
// Each line's items are centred on the line's height. An item wider than a whole line gets the line's
// width (and, when it has one, its height for that width). The layout's height depends on its width.
//
// Main thread only.
class FlowLayout final : public QLayout {
 public:
  FlowLayout(QWidget* parent, int spacing, int lineSpacing);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int index) const override { return items_.value(index); }
  QLayoutItem* takeAt(int index) override;

  Qt::Orientations expandingDirections() const override { return {}; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  // One line of everything.
  QSize sizeHint() const override;
  // As narrow as the widest item, as high as that takes.
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;

 private:
  // Lays the items out in `rect` (moving them unless `measureOnly`); the height used.
  int arrange(const QRect& rect, bool measureOnly) const;

  QList<QLayoutItem*> items_;
  int spacing_;
  int lineSpacing_;
};

}  // namespace quorvelle
