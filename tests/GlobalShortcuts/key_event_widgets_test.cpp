// Built as a widgets test: a QKeyEvent needs the application's keyboard device.
#include <gtest/gtest.h>

#include <QKeyEvent>

#include "GlobalShortcuts/KeyEvent.h"
#include "platform/fake/FakeKeyboardLayout.h"

using GlobalShortcuts::KeyEvent;
using GlobalShortcuts::ModifierFlags;

namespace {

TEST(KeyEvent, FromQtKeyEventsByPhysicalKey) {
  const auto layout = platform::fake::FakeKeyboardLayout::usLayout();
  // Keycode 28 is the key right of R (AD05), whatever character it types: a T on a US layout.
  const QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::AltModifier | Qt::ControlModifier, 28, 0, 0, "z",
                        true);
  EXPECT_EQ(KeyEvent::fromQKeyEvent(press, layout),
            (KeyEvent{KeyEvent::Type::keyDown, 17, ModifierFlags::option | ModifierFlags::command, true}));
  const QKeyEvent release(QEvent::KeyRelease, Qt::Key_F5, Qt::MetaModifier, 71, 0, 0);
  EXPECT_EQ(KeyEvent::fromQKeyEvent(release, layout),
            (KeyEvent{KeyEvent::Type::keyUp, 96, ModifierFlags::control, false}));
  // A keycode the keymap does not name, and one whose key has no key code here.
  EXPECT_FALSE(
      KeyEvent::fromQKeyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 250, 0, 0), layout));
  EXPECT_FALSE(KeyEvent::fromQKeyEvent(
      QKeyEvent(QEvent::ShortcutOverride, Qt::Key_T, Qt::NoModifier, 28, 0, 0), layout));
}

}  // namespace
