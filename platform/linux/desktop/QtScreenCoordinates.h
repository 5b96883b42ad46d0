#pragma once

#include <QGuiApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>

#include "platform/Geometry.h"

namespace platform::qt_coordinates {

// Qt counts y downward from the top of the virtual desktop; the rest of the program counts it upward
// from the bottom of the main (primary) screen. These convert at that edge. Main thread.

// The Qt y of the main screen's bottom edge: y-up 0.
inline double flipLine() {
  const QScreen* main = QGuiApplication::primaryScreen();
  if (main == nullptr) return 0;
  const QRect g = main->geometry();
  return g.y() + g.height();
}

inline Point fromQt(QPointF p) {
  return {p.x(), flipLine() - p.y()};
}

inline Rect fromQt(const QRectF& r) {
  return {{r.x(), flipLine() - (r.y() + r.height())}, {r.width(), r.height()}};
}

// The Qt top-left corner of a rectangle of `height` whose y-up bottom-left corner is `origin`.
inline QPoint topLeftInQt(Point origin, double height) {
  return QPointF(origin.x, flipLine() - (origin.y + height)).toPoint();
}

}  // namespace platform::qt_coordinates
