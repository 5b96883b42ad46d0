#include "platform/linux/desktop/QtKeyWindowScreen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace platform {

std::optional<Size> QtKeyWindowScreen::keyWindowScreenSize() const {
  const QWindow* window = QGuiApplication::focusWindow();
  const QScreen* screen = window ? window->screen() : nullptr;
  if (screen == nullptr) return std::nullopt;
  const QSize size = screen->size();
  return Size{static_cast<double>(size.width()), static_cast<double>(size.height())};
}

}  // namespace platform
