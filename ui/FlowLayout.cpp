#include "ui/FlowLayout.h"

#include <QWidget>
#include <algorithm>
#include <utility>
#include <vector>

namespace quorvelle {

FlowLayout::FlowLayout(QWidget* parent, int spacing, int lineSpacing)
    : QLayout(parent), spacing_(spacing), lineSpacing_(lineSpacing) {
  setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) {
  items_.append(item);
}

QLayoutItem* FlowLayout::takeAt(int index) {
  if (index < 0 || index >= items_.size()) return nullptr;
  return items_.takeAt(index);
}

int FlowLayout::heightForWidth(int width) const {
  const QMargins m = contentsMargins();
  return arrange(QRect(0, 0, width, 0), true) + m.top() + m.bottom();
}

QSize FlowLayout::sizeHint() const {
  int width = 0, height = 0, shown = 0;
  for (const QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize hint = item->sizeHint();
    width += hint.width() + (shown++ > 0 ? spacing_ : 0);
    height = std::max(height, hint.height());
  }
  const QMargins m = contentsMargins();
  return QSize(width, height).grownBy(m);
}

QSize FlowLayout::minimumSize() const {
  int width = 0;
  for (const QLayoutItem* item : items_) {
    if (!item->isEmpty()) width = std::max(width, item->minimumSize().width());
  }
  const QMargins m = contentsMargins();
  const int inner = width;
  return {inner + m.left() + m.right(), heightForWidth(inner + m.left() + m.right())};
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  arrange(rect.marginsRemoved(contentsMargins()), false);
}

int FlowLayout::arrange(const QRect& rect, bool measureOnly) const {
  const int lineWidth = std::max(1, rect.width());
  struct Placed {
    QLayoutItem* item;
    QSize size;
  };
  std::vector<Placed> line;
  int y = rect.y();
  int x = 0;
  int lineHeight = 0;
  auto endLine = [&] {
    if (line.empty()) return;
    int at = rect.x();
    for (const Placed& placed : line) {
      if (!measureOnly) {
        placed.item->setGeometry(QRect(QPoint(at, y + (lineHeight - placed.size.height()) / 2), placed.size));
      }
      at += placed.size.width() + spacing_;
    }
    y += lineHeight + lineSpacing_;
    line.clear();
    x = 0;
    lineHeight = 0;
  };
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    QSize size = item->sizeHint();
    if (size.width() > lineWidth) {
      size.setWidth(lineWidth);
      if (item->hasHeightForWidth()) size.setHeight(item->heightForWidth(lineWidth));
    }
    const int needed = (line.empty() ? 0 : spacing_) + size.width();
    if (!line.empty() && x + needed > lineWidth) endLine();
    x += (line.empty() ? 0 : spacing_) + size.width();
    lineHeight = std::max(lineHeight, size.height());
    line.push_back({item, size});
  }
  endLine();
  // No spacing after the last line.
  return std::max(0, y - rect.y() - (y > rect.y() ? lineSpacing_ : 0));
}

}  // namespace quorvelle
