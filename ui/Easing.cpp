#include "ui/Easing.h"

#include <QPointF>

namespace quorvelle {

QEasingCurve easeOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
  return curve;
}

QEasingCurve easeInOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
  return curve;
}

namespace detail {

double springPosition(double response, double damping, double seconds) {
  const double omega = springOmega(response);
  if (damping >= 1) {
    // Critically damped (the fastest settle without overshoot).
    return 1 - std::exp(-omega * seconds) * (1 + omega * seconds);
  }
  const double decay = damping * omega;
  const double frequency = omega * std::sqrt(1 - damping * damping);
  return 1 - std::exp(-decay * seconds) *
                 (std::cos(frequency * seconds) + decay / frequency * std::sin(frequency * seconds));
}

}  // namespace detail

}  // namespace quorvelle
