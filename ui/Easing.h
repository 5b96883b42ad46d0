#pragma once

#include <QEasingCurve>
#include <cmath>

namespace quorvelle {

// The timing curves of the windows' transitions.
//
// easeOut() and easeInOut() are the standard cubic Béziers (0, 0, 0.58, 1) and (0.42, 0, 0.58, 1). A
// spring is named by its response (the period of its undamped oscillation, in seconds) and its damping
// fraction (1 settles without overshoot, less overshoots a little); it runs until it has settled to
// within a thousandth of its end, which is its animation's length, springMs(). Any thread.
QEasingCurve easeOut();
QEasingCurve easeInOut();

namespace detail {

inline double springOmega(double response) {
  return 2 * M_PI / response;
}
inline double springSettleSeconds(double response, double damping) {
  return std::log(1000.0) / (damping * springOmega(response));
}
// Where a spring released at 0 towards 1 is `seconds` later.
double springPosition(double response, double damping, double seconds);

template <int ResponseMs, int DampingPercent>
qreal springProgress(qreal progress) {
  if (progress >= 1) return 1;
  constexpr double response = ResponseMs / 1000.0, damping = DampingPercent / 100.0;
  return springPosition(response, damping, progress * springSettleSeconds(response, damping));
}

}  // namespace detail

template <int ResponseMs, int DampingPercent>
int springMs() {
  return static_cast<int>(
      std::lround(1000 * detail::springSettleSeconds(ResponseMs / 1000.0, DampingPercent / 100.0)));
}

template <int ResponseMs, int DampingPercent>
QEasingCurve springCurve() {
  QEasingCurve curve;
  curve.setCustomType(&detail::springProgress<ResponseMs, DampingPercent>);
  return curve;
}

}  // namespace quorvelle
