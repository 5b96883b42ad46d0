#include "platform/linux/desktop/QtScreens.h"

#include <QCursor>

#include "platform/linux/desktop/QtScreenCoordinates.h"

namespace platform {
namespace {

Screen toScreen(const QScreen& s) {
  return {qt_coordinates::fromQt(QRectF(s.geometry())),
          qt_coordinates::fromQt(QRectF(s.availableGeometry()))};
}

}  // namespace

std::vector<Screen> QtScreens::screens() const {
  std::vector<Screen> result;
  const QScreen* main = QGuiApplication::primaryScreen();
  if (main == nullptr) return result;
  result.push_back(toScreen(*main));
  for (const QScreen* s : QGuiApplication::screens()) {
    if (s != main) result.push_back(toScreen(*s));
  }
  return result;
}

std::optional<Screen> QtScreens::mainScreen() const {
  const QScreen* main = QGuiApplication::primaryScreen();
  if (main == nullptr) return std::nullopt;
  return toScreen(*main);
}

Point QtScreens::mouseLocation() const {
  return qt_coordinates::fromQt(QPointF(QCursor::pos()));
}

}  // namespace platform
