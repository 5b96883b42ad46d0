#pragma once

#include <gtest/gtest.h>
#include <QEvent>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

namespace quorvelle::test {

// Processes and desktop tools for tests that drive real programs on a display. Main thread of a Qt test:
// the waits keep this process's event loop running, so that its own windows and selections answer.

// Starts a child that ends with this test process even if the test dies.
std::unique_ptr<QProcess> startChild(
    const QString& program, const QStringList& args,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
// Asks the child to end (SIGTERM), killing it when it does not within 5 s.
void stopChild(std::unique_ptr<QProcess>& process);
// Runs a short command and gives its standard output, or nothing when it failed or did not end.
std::optional<QString> runTool(const QString& program, const QStringList& args);
// Runs xdotool, and fails the test when it fails.
void xdotool(const QStringList& args);
// The frame of an X window, by id, from xdotool.
std::optional<QRect> windowGeometry(const QString& window);

// Whether a client owns the name `name` on the session bus this process talks to (e.g.
// "org.freedesktop.secrets" once a keyring has taken its place on the bus).
bool busNameHasOwner(const QString& name);
// Whether an X client owns the selection `name` on the display this process shows on ("WM_S0": a window
// manager runs on screen 0; "_NET_SYSTEM_TRAY_S0": a tray takes icons).
bool selectionHasOwner(const char* name);
// Whether the X input focus is on the window `window` (an id as xdotool or Tk write it) or inside it.
bool focusIsIn(const QString& window);
// Opens the menu of the tray icon `icon` with a right click and waits until it shows (one window more among
// the program's `windows()`) and has taken the keyboard, so that keys typed next reach it.
void openTrayMenu(const QString& icon, const std::function<QStringList()>& windows);

// Waits, as every test waits for a state (tests/support/Eventually.h), until the window of `widget` is
// exposed (shows on the screen), or active (has the keyboard; on the offscreen platform, which activates
// no window, exposed).
testing::AssertionResult waitUntilExposed(const QWidget* widget);
testing::AssertionResult waitUntilActive(const QWidget* widget);

// Counts the events of `type` that reach `target` while it lives.
class EventCounter final : public QObject {
 public:
  EventCounter(QObject* target, QEvent::Type type, int& count) : type_(type), count_(count) {
    target->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == type_) ++count_;
    return false;
  }

 private:
  QEvent::Type type_;
  int& count_;
};

// Starts openbox (with its built-in defaults) and waits until it manages the screen.
void startWindowManager(std::unique_ptr<QProcess>& windowManager);
// Starts a trayer tray along the top edge and waits until it takes icons.
void startTray(std::unique_ptr<QProcess>& tray);

}  // namespace quorvelle::test
