#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>
#include <memory>
#include <string>
#include <vector>

#include "GlobalShortcuts/LocalEventMonitor.h"
#include "GlobalShortcuts/RunLoopLocalEventMonitor.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"

using GlobalShortcuts::EventTypeMask;
using GlobalShortcuts::LocalEventMonitor;
using GlobalShortcuts::RunLoopLocalEventMonitor;

namespace {

// A shown window with a focused line edit inside a container, so that an unhandled key would propagate
// from the edit to its parents.
struct Window {
  QWidget top;
  QLineEdit* edit;

  Window() {
    auto* layout = new QVBoxLayout(&top);
    auto* inner = new QWidget;
    auto* innerLayout = new QVBoxLayout(inner);
    edit = new QLineEdit;
    innerLayout->addWidget(edit);
    layout->addWidget(inner);
    top.show();
    EXPECT_TRUE(quorvelle::test::waitUntilExposed(&top));
    top.activateWindow();
    edit->setFocus();
  }

  void press(Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent down(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(top.windowHandle(), &down);
    QKeyEvent up(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(top.windowHandle(), &up);
  }
};

LocalEventMonitor::Callback recording(std::vector<std::string>& log, std::string name, bool swallow = false) {
  return [&log, name = std::move(name), swallow](QEvent* event) -> QEvent* {
    log.push_back(name + (event->type() == QEvent::KeyPress ? ":down" : ":other"));
    return swallow ? nullptr : event;
  };
}

const EventTypeMask kKeyDown = EventTypeMask::keyDown;

}  // namespace

TEST(LocalEventMonitor, CalledOncePerEventInStartOrderAndSwallowingStopsTheChain) {
  Window window;
  std::vector<std::string> log;
  LocalEventMonitor second(kKeyDown, recording(log, "second"));
  LocalEventMonitor first(kKeyDown, recording(log, "first"));
  LocalEventMonitor swallower(kKeyDown, recording(log, "swallower", true));
  LocalEventMonitor never(kKeyDown, recording(log, "never"));
  first.start();
  second.start();

  window.press(Qt::Key_A, "a");
  EXPECT_EQ(log, (std::vector<std::string>{"first:down", "second:down"}));
  EXPECT_EQ(window.edit->text(), "a");

  log.clear();
  swallower.start();
  never.start();
  window.press(Qt::Key_B, "b");
  EXPECT_EQ(log, (std::vector<std::string>{"first:down", "second:down", "swallower:down"}));
  EXPECT_EQ(window.edit->text(), "a") << "a swallowed key must not reach the widget";

  // A key the edit ignores propagates to its parents; monitors still see it once.
  log.clear();
  swallower.stop();
  never.stop();
  window.press(Qt::Key_F5, "");
  EXPECT_EQ(log, (std::vector<std::string>{"first:down", "second:down"}));
}

TEST(LocalEventMonitor, StartAndStopAreIdempotentAndDestructionStops) {
  Window window;
  std::vector<std::string> log;
  auto monitor = std::make_unique<LocalEventMonitor>(kKeyDown, recording(log, "m"));
  EXPECT_FALSE(monitor->isStarted());
  window.press(Qt::Key_A, "a");
  EXPECT_TRUE(log.empty()) << "a monitor is created stopped";

  EXPECT_TRUE(monitor->start().start().isStarted());
  window.press(Qt::Key_A, "a");
  EXPECT_EQ(log.size(), 1u) << "starting twice must not install a second monitor";

  monitor->stop();
  monitor->stop();
  EXPECT_FALSE(monitor->isStarted());
  window.press(Qt::Key_A, "a");
  EXPECT_EQ(log.size(), 1u);

  monitor->start();
  monitor.reset();
  window.press(Qt::Key_A, "a");
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(window.edit->text(), "aaaa");
}

TEST(LocalEventMonitor, WatchesOnlyItsEventTypes) {
  Window window;
  std::vector<EventTypeMask> seen;
  LocalEventMonitor monitor(EventTypeMask::keyUp | EventTypeMask::leftMouseUp | EventTypeMask::scrollWheel,
                            [&](QEvent* event) {
                              seen.push_back(EventTypeMask::forEvent(*event));
                              return event;
                            });
  monitor.start();
  window.press(Qt::Key_A, "a");
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.top.windowHandle(), &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.top.windowHandle(), &release);
  QMouseEvent rightRelease(QEvent::MouseButtonRelease, at, at, Qt::RightButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.top.windowHandle(), &rightRelease);
  QWheelEvent wheel(at, at, {}, {0, 120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(window.top.windowHandle(), &wheel);

  EXPECT_EQ(seen, (std::vector<EventTypeMask>{EventTypeMask::keyUp, EventTypeMask::leftMouseUp,
                                              EventTypeMask::scrollWheel}));
}

TEST(LocalEventMonitor, CallbackMayStopItselfAndOthersDuringDispatch) {
  Window window;
  std::vector<std::string> log;
  std::unique_ptr<LocalEventMonitor> later;
  std::unique_ptr<LocalEventMonitor> self;
  self = std::make_unique<LocalEventMonitor>(kKeyDown, [&](QEvent* event) {
    log.push_back("self");
    later.reset();  // removed before its turn: must not be called
    self.reset();   // destroys the running callback's monitor
    return event;
  });
  later = std::make_unique<LocalEventMonitor>(kKeyDown, recording(log, "later"));
  self->start();
  later->start();

  window.press(Qt::Key_A, "a");
  window.press(Qt::Key_B, "b");
  EXPECT_EQ(log, std::vector<std::string>{"self"});
  EXPECT_EQ(window.edit->text(), "ab");
}

TEST(RunLoopLocalEventMonitor, SeesEventsOnlyWhileAMenuIsOpen) {
  Window window;
  std::vector<std::string> log;
  LocalEventMonitor local(EventTypeMask::keyDown | EventTypeMask::keyUp, recording(log, "local"));
  RunLoopLocalEventMonitor tracking(EventTypeMask::keyDown | EventTypeMask::keyUp,
                                    recording(log, "tracking"));
  local.start();
  EXPECT_TRUE(tracking.start().start().isStarted());

  window.press(Qt::Key_A, "a");
  EXPECT_EQ(log, (std::vector<std::string>{"local:down", "local:other"}));

  QMenu menu;
  menu.addAction("Settings…");
  menu.addAction("Quit");
  menu.popup(window.top.mapToGlobal(QPoint(10, 10)));
  ASSERT_EQ(QApplication::activePopupWidget(), &menu);

  log.clear();
  QKeyEvent down(QEvent::KeyPress, Qt::Key_T, Qt::AltModifier, "t");
  QCoreApplication::sendEvent(menu.windowHandle(), &down);
  QKeyEvent up(QEvent::KeyRelease, Qt::Key_T, Qt::AltModifier, "t");
  QCoreApplication::sendEvent(menu.windowHandle(), &up);
  EXPECT_EQ(log, (std::vector<std::string>{"tracking:down", "tracking:other"}));
  EXPECT_TRUE(menu.isVisible()) << "the monitor lets events through to the menu";

  menu.close();
  ASSERT_EQ(QApplication::activePopupWidget(), nullptr);
  log.clear();
  tracking.stop();
  window.press(Qt::Key_B, "b");
  EXPECT_EQ(log, (std::vector<std::string>{"local:down", "local:other"}));
}

TEST(RunLoopLocalEventMonitor, SwallowedKeysDoNotReachTheMenu) {
  Window window;
  int seen = 0;
  RunLoopLocalEventMonitor tracking(EventTypeMask::keyDown, [&](QEvent*) -> QEvent* {
    ++seen;
    return nullptr;
  });
  tracking.start();

  QMenu menu;
  menu.addAction("Quit");
  menu.popup(window.top.mapToGlobal(QPoint(10, 10)));
  ASSERT_TRUE(menu.isVisible());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(menu.windowHandle(), &escape);
  EXPECT_EQ(seen, 1);
  EXPECT_TRUE(menu.isVisible()) << "Escape was swallowed, so the menu stays open";

  tracking.stop();
  QKeyEvent escapeAgain(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(menu.windowHandle(), &escapeAgain);
  EXPECT_FALSE(menu.isVisible());
  EXPECT_EQ(seen, 1);
}
