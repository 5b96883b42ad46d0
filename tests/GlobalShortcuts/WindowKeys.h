#pragma once

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace quorvelle::test {

// One key as the X server reports it: the keycode of its position and what Qt makes of it.
struct KeyPress {
  quint32 keycode;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

// As the window system hands a key to the application: the window's shortcuts may take it, otherwise
// the press and the release go to the window.
inline void type(QWidget& window, const KeyPress& press) {
  QWindow* handle = window.windowHandle();
  if (qt_sendShortcutOverrideEvent(handle, 0, press.key, press.modifiers)) return;
  QKeyEvent down(QEvent::KeyPress, press.key, press.modifiers, press.keycode, 0, 0);
  QCoreApplication::sendEvent(handle, &down);
  QKeyEvent up(QEvent::KeyRelease, press.key, press.modifiers, press.keycode, 0, 0);
  QCoreApplication::sendEvent(handle, &up);
}

}  // namespace quorvelle::test
