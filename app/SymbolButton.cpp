#include "app/SymbolButton.h"

#include <QEnterEvent>
#include <QPainter>

#include "app/PopupStyle.h"
#include "app/PopupSymbols.h"

namespace quorvelle {

SymbolButton::SymbolButton(std::string symbol, const QString& tooltip, Look look, QWidget* parent)
    : QAbstractButton(parent), symbol_(std::move(symbol)), look_(look) {
  setToolTip(tooltip);
  setFocusPolicy(Qt::NoFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolButton::sizeHint() const {
  const int side = look_.symbolSize + 2 * look_.padding;
  return {side, side};
}

void SymbolButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (look_.highlightOnHover && hovering_) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(popup_style::quaternaryFill(palette()));
    painter.drawRoundedRect(QRectF(rect()), 4, 4);
  }
  const QColor color = look_.secondary ? popup_style::secondary(palette()) : popup_style::primary(palette());
  const QRectF box = QRectF(rect()).adjusted(look_.padding, look_.padding, -look_.padding, -look_.padding);
  paintPopupSymbol(painter, symbol_, box, isDown() ? color.darker(150) : color, look_.weight);
}

void SymbolButton::enterEvent(QEnterEvent* event) {
  hovering_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void SymbolButton::leaveEvent(QEvent* event) {
  hovering_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

}  // namespace quorvelle
