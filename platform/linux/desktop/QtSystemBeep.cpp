#include "platform/linux/desktop/QtSystemBeep.h"

#include <QApplication>

namespace platform {

void QtSystemBeep::beep() {
  QApplication::beep();
}

}  // namespace platform
