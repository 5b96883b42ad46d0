#include "app/PopupSymbols.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace quorvelle {

void paintPopupSymbol(QPainter& painter, std::string_view name, const QRectF& box, const QColor& color,
                      double weight) {
  const double s = std::min(box.width(), box.height());
  const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
  auto at = [&](double fx, double fy) { return QPointF(r.left() + fx * s, r.top() + fy * s); };
  // A four-pointed star centred at (cx, cy), `radius` from centre to tip, in fractions of the box.
  auto sparkle = [&](double cx, double cy, double radius) {
    QPainterPath star;
    star.moveTo(at(cx, cy - radius));
    star.quadTo(at(cx, cy), at(cx + radius, cy));
    star.quadTo(at(cx, cy), at(cx, cy + radius));
    star.quadTo(at(cx, cy), at(cx - radius, cy));
    star.quadTo(at(cx, cy), at(cx, cy - radius));
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(star);
    painter.restore();
  };

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
  } else if (name == "globe") {
    const QRectF round(at(0.08, 0.08), at(0.92, 0.92));
    painter.drawEllipse(round);
    painter.drawEllipse(QRectF(at(0.32, 0.08), at(0.68, 0.92)));
    painter.drawLine(at(0.08, 0.5), at(0.92, 0.5));
    painter.drawLine(at(0.16, 0.29), at(0.84, 0.29));
    painter.drawLine(at(0.16, 0.71), at(0.84, 0.71));
  } else if (name == "wand.and.stars") {
    painter.drawLine(at(0.1, 0.9), at(0.62, 0.38));
    // Sparkles: a big one by the wand's tip, two small ones around it.
    sparkle(0.72, 0.22, 0.2);
    sparkle(0.32, 0.2, 0.11);
    sparkle(0.84, 0.62, 0.11);
  } else if (name == "checkmark.seal.fill") {
    // A seal with twelve round bumps, and a white check inside.
    QPainterPath seal;
    constexpr int kBumps = 12;
    for (int i = 0; i <= kBumps * 2; ++i) {
      const double angle = i * M_PI / kBumps;
      const double radius = (i % 2 == 0) ? 0.46 : 0.39;
      const QPointF p = at(0.5 + radius * std::cos(angle), 0.5 + radius * std::sin(angle));
      if (i == 0) {
        seal.moveTo(p);
      } else {
        seal.lineTo(p);
      }
    }
    painter.save();
    painter.setPen(QPen(color, s * 0.06, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(color);
    painter.drawPath(seal);
    painter.restore();
    painter.setPen(
        QPen(Qt::white, std::max(1.0, s / 9.0) * weight, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF{at(0.32, 0.52), at(0.45, 0.65), at(0.7, 0.37)});
  } else if (name == "exclamationmark.triangle.fill") {
    QPainterPath triangle;
    triangle.moveTo(at(0.5, 0.06));
    triangle.lineTo(at(0.95, 0.9));
    triangle.lineTo(at(0.05, 0.9));
    triangle.closeSubpath();
    painter.save();
    painter.setPen(QPen(color, s * 0.08, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(color);
    painter.drawPath(triangle);
    painter.restore();
    painter.setPen(QPen(Qt::white, std::max(1.0, s / 9.0) * weight, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(at(0.5, 0.34), at(0.5, 0.6));
    painter.drawPoint(at(0.5, 0.76));
  } else if (name == "checkmark.circle.fill") {
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(at(0.04, 0.04), at(0.96, 0.96)));
    painter.restore();
    painter.setPen(
        QPen(Qt::white, std::max(1.0, s / 9.0) * weight, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF{at(0.3, 0.52), at(0.44, 0.66), at(0.7, 0.36)});
  } else if (name == "circle.dashed") {
    // Twelve short arcs round the circle.
    const QRectF ring(at(0.1, 0.1), at(0.9, 0.9));
    constexpr int kDashes = 12;
    constexpr int kStep = 360 * 16 / kDashes;
    for (int i = 0; i < kDashes; ++i) painter.drawArc(ring, i * kStep, kStep / 2);
  } else if (name == "accessibility") {
    // A figure with open arms inside a ring.
    painter.drawEllipse(QRectF(at(0.04, 0.04), at(0.96, 0.96)));
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(at(0.42, 0.16), at(0.58, 0.32)));
    painter.restore();
    painter.drawLine(at(0.24, 0.4), at(0.76, 0.4));
    painter.drawLine(at(0.5, 0.4), at(0.5, 0.6));
    painter.drawPolyline(QPolygonF{at(0.36, 0.82), at(0.5, 0.6), at(0.64, 0.82)});
  } else if (name == "book") {
    // An open book: two pages meeting at the spine.
    painter.drawPolygon(QPolygonF{at(0.5, 0.24), at(0.5, 0.86), at(0.06, 0.78), at(0.06, 0.16)});
    painter.drawPolygon(QPolygonF{at(0.5, 0.24), at(0.94, 0.16), at(0.94, 0.78), at(0.5, 0.86)});
  } else if (name == "sparkles") {
    sparkle(0.4, 0.58, 0.36);
    sparkle(0.78, 0.22, 0.18);
    sparkle(0.8, 0.8, 0.12);
  } else if (name == "key.fill") {
    // A round bow with a hole, and a blade with two teeth.
    QPainterPath key;
    key.addEllipse(QRectF(at(0.06, 0.22), at(0.5, 0.66)));
    key.addRect(QRectF(at(0.44, 0.38), at(0.94, 0.5)));
    key.addRect(QRectF(at(0.74, 0.5), at(0.82, 0.64)));
    key.addRect(QRectF(at(0.86, 0.5), at(0.94, 0.6)));
    key.setFillRule(Qt::WindingFill);
    QPainterPath hole;
    hole.addEllipse(QRectF(at(0.17, 0.38), at(0.29, 0.5)));
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(key.simplified().subtracted(hole));
    painter.restore();
  }
  painter.restore();
}

QPixmap popupSymbolPixmap(std::string_view name, const QColor& color, int size, qreal ratio) {
  QPixmap pixmap(QSize(size, size) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  paintPopupSymbol(painter, name, QRectF(0, 0, size, size), color);
  return pixmap;
}

}  // namespace quorvelle
