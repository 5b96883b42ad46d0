#include "GlobalShortcuts/EventTypeMask.h"

#include <QMouseEvent>

namespace GlobalShortcuts {

EventTypeMask EventTypeMask::forEvent(const QEvent& event) noexcept {
  switch (event.type()) {
    case QEvent::KeyPress:
      return keyDown;
    case QEvent::KeyRelease:
      return keyUp;
    case QEvent::Wheel:
      return scrollWheel;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
      const bool down = event.type() != QEvent::MouseButtonRelease;
      switch (static_cast<const QMouseEvent&>(event).button()) {
        case Qt::LeftButton:
          return down ? leftMouseDown : leftMouseUp;
        case Qt::RightButton:
          return down ? rightMouseDown : rightMouseUp;
        default:
          return down ? otherMouseDown : otherMouseUp;
      }
    }
    default:
      return {};
  }
}

}  // namespace GlobalShortcuts
