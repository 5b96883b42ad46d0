#include "app/PopupSymbols.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace quorvelle {

void paintPopupSymbol(QPainter& painter, std::string_view name, const QRectF& box, const QColor& color,
                      double weight) {
  const double s = std::min(box.width(), box.height());
  const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
  auto at = [&](double fx, double fy) { return QPointF(r.left() + fx * s, r.top() + fy * s); };

  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(color, std::max(1.0, s / 9.0) * weight, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);

  if (name == "speaker.wave.2.fill") {
    QPainterPath body;
    body.moveTo(at(0.05, 0.38));
    body.lineTo(at(0.25, 0.38));
    body.lineTo(at(0.5, 0.15));
    body.lineTo(at(0.5, 0.85));
    body.lineTo(at(0.25, 0.62));
    body.lineTo(at(0.05, 0.62));
    body.closeSubpath();
    painter.setBrush(color);
    painter.drawPath(body);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(at(0.45, 0.3), at(0.75, 0.7)), -60 * 16, 120 * 16);
    painter.drawArc(QRectF(at(0.4, 0.15), at(0.95, 0.85)), -60 * 16, 120 * 16);
  } else if (name == "doc.on.doc") {
    painter.drawRoundedRect(QRectF(at(0.3, 0.05), at(0.92, 0.72)), s * 0.08, s * 0.08);
    painter.drawRoundedRect(QRectF(at(0.08, 0.28), at(0.7, 0.95)), s * 0.08, s * 0.08);
  } else if (name == "arrow.2.squarepath") {
    painter.drawPolyline(QPolygonF{at(0.15, 0.55), at(0.15, 0.25), at(0.8, 0.25)});
    painter.drawPolyline(QPolygonF{at(0.65, 0.1), at(0.8, 0.25), at(0.65, 0.4)});
    painter.drawPolyline(QPolygonF{at(0.85, 0.45), at(0.85, 0.75), at(0.2, 0.75)});
    painter.drawPolyline(QPolygonF{at(0.35, 0.6), at(0.2, 0.75), at(0.35, 0.9)});
  } else if (name == "arrow.up.right.square") {
    painter.drawRoundedRect(QRectF(at(0.08, 0.08), at(0.92, 0.92)), s * 0.15, s * 0.15);
    painter.drawLine(at(0.32, 0.68), at(0.68, 0.32));
    painter.drawPolyline(QPolygonF{at(0.4, 0.32), at(0.68, 0.32), at(0.68, 0.6)});
  } else if (name == "arrow.down") {
    painter.drawLine(at(0.5, 0.08), at(0.5, 0.9));
    painter.drawPolyline(QPolygonF{at(0.18, 0.58), at(0.5, 0.9), at(0.82, 0.58)});
  } else if (name == "arrow.right.to.line") {
    painter.drawLine(at(0.08, 0.5), at(0.72, 0.5));
    painter.drawPolyline(QPolygonF{at(0.45, 0.22), at(0.72, 0.5), at(0.45, 0.78)});
    painter.drawLine(at(0.92, 0.15), at(0.92, 0.85));
  }
  painter.restore();
}

}  // namespace quorvelle
