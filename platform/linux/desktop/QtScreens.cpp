#include "platform/linux/desktop/QtScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace platform {
namespace {

double primaryBottom() {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return 0;
  return primary->geometry().y() + primary->geometry().height();
}

Rect flipped(const QRect& r) {
  return {{double(r.x()), primaryBottom() - r.y() - r.height()}, {double(r.width()), double(r.height())}};
}

Screen screenOf(const QScreen& s) {
  return {flipped(s.geometry()), flipped(s.availableGeometry())};
}

}  // namespace

std::vector<Screen> QtScreens::screens() const {
  std::vector<Screen> result;
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (primary) result.push_back(screenOf(*primary));
  for (const QScreen* s : QGuiApplication::screens())
    if (s != primary) result.push_back(screenOf(*s));
  return result;
}

std::optional<Screen> QtScreens::mainScreen() const {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return std::nullopt;
  return screenOf(*primary);
}

Point QtScreens::mouseLocation() const {
  const QPoint p = QCursor::pos();
  return {double(p.x()), primaryBottom() - p.y()};
}

}  // namespace platform
