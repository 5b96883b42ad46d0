// The hot keys in real terminal emulators, where Ctrl+C interrupts the command that runs and Ctrl+V is no
// paste: the command survives a press with nothing selected, and a refined variant is pasted with the
// terminal's own paste key, or, in a terminal that has none, stays on the clipboard and the popup says so.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>
#include <vector>

#include "tests/program/ProgramX11Test.h"
#include "tests/support/Eventually.h"

namespace {

using namespace quorvelle::test;

class TerminalX11Test : public ProgramX11Test {
 protected:
  // A terminal titled "terminal" running `command` (sh), with the keyboard focus.
  void startTerminal(const QString& terminal, const QString& command) {
    ASSERT_FALSE(QStandardPaths::findExecutable(terminal).isEmpty())
        << terminal.toStdString() << " is needed (scripts/setup.sh installs it)";
    const QStringList args =
        terminal == "xterm"
            ? QStringList{"-geometry", "80x6+100+100", "-T", "terminal", "-e", "sh", "-c", command}
            : QStringList{"-g", "80x6+100+100", "-t", "terminal", "-e", "sh", "-c", command};
    terminal_ = startChild(terminal, args, env_);
    const auto window = waitForWindowNamed("terminal");
    ASSERT_TRUE(window) << terminal.toStdString() << " did not map";
    window_ = *window;
    xdotool({"windowactivate", "--sync", window_});
  }

  void TearDown() override {
    stopChild(terminal_);
    ProgramX11Test::TearDown();
  }

  // Where the window's top-left corner is on the screen.
  static QPoint originOf(const QString& window) {
    xcb_connection_t* c = qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    auto* at = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, static_cast<xcb_window_t>(window.toULong()), root, 0, 0), nullptr);
    const QPoint origin = at ? QPoint(at->dst_x, at->dst_y) : QPoint();
    std::free(at);
    return origin;
  }

  // The widget of object name `objectName` in the program's window `window`, as the probe tells it now.
  std::optional<ProbedWidget> widgetIn(const QString& window, const QString& objectName) const {
    const auto snapshot = readProbe(probePath_);
    for (const ProbedWindow& w : snapshot ? snapshot->windows : std::vector<ProbedWindow>{}) {
      if (w.id != window) continue;
      if (const auto* found = w.find([&](const ProbedWidget& x) { return x.objectName == objectName; }))
        return *found;
    }
    return std::nullopt;
  }

  QString file(const QString& name) const { return dir_.filePath(name); }
  QByteArray contents(const QString& name) const {
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  std::unique_ptr<QProcess> terminal_;
  QString window_;
};

// Nothing selected in the terminal: quick translate opens, and the command running there, which an
// interrupt would end, still reads the next key typed.
TEST_F(TerminalX11Test, APressWithNothingSelectedLeavesTheRunningCommandAlive) {
  for (const QString terminal : {"xterm", "st"}) {
    SCOPED_TRACE(terminal.toStdString());
    const QString out = file(terminal + ".out");
    ASSERT_NO_FATAL_FAILURE(startTerminal(
        terminal, QString("stty -icanon -echo; dd bs=1 count=1 of='%1' 2>/dev/null; echo survived >> '%1'; "
                          "sleep 600")
                      .arg(out)));
    QGuiApplication::clipboard()->clear(QClipboard::Selection);
    ASSERT_TRUE(waitForPrimary(""));
    ASSERT_NO_FATAL_FAILURE(pointerTo({400, 400}));
    xdotool({"key", "alt+t"});
    ASSERT_TRUE(waitForPopup()) << "no quick-translate popup";
    xdotool({"key", "Escape"});
    ASSERT_TRUE(waitForNoPopup());
    xdotool({"windowactivate", "--sync", window_});
    xdotool({"type", "m"});
    EXPECT_TRUE(waitUntil([&] { return contents(terminal + ".out") == "msurvived\n"; },
                          "the command reads the next key"))
        << contents(terminal + ".out").toStdString();
    stopChild(terminal_);
  }
}

// A refined variant goes into the terminal through its own paste key (Ctrl+Shift+V), and reaches the
// command there as typed text.
TEST_F(TerminalX11Test, ARefinedVariantIsPastedWithTheTerminalsPasteKey) {
  const QString out = file("paste.out");
  ASSERT_NO_FATAL_FAILURE(startTerminal(
      "st",
      QString("echo me and him goes to store; stty -icanon -echo; dd bs=1 of='%1' 2>/dev/null").arg(out)));
  // The first line, selected with a triple click as in any terminal: PRIMARY, owned by the terminal.
  clickAt(originOf(window_) + QPoint(30, 6), 3);
  ASSERT_TRUE(waitForPrimary("me and him goes to store\n"))
      << QGuiApplication::clipboard()->text(QClipboard::Selection).toStdString();
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 400}));
  xdotool({"key", "alt+r"});
  EXPECT_TRUE(waitForRequest("POST /refine apiKey,language,text")) << requests_.join('\n').toStdString();
  const auto popup = waitForPopup();
  ASSERT_TRUE(popup) << "no popup mapped";
  const auto loaded = waitForPopupTallerThan(*popup, 100);
  ASSERT_TRUE(loaded) << "the variants did not show";
  clickAt(loaded->topLeft() + QPoint(60, 24));
  EXPECT_TRUE(waitUntil([&] { return contents("paste.out").contains("Me and him goes to store."); },
                        "the variant reaches the command"))
      << contents("paste.out").toStdString();
}

// xterm has no key that pastes the clipboard: the chosen variant goes there only, and the popup stays
// open to say so instead of closing as though it had been pasted.
TEST_F(TerminalX11Test, InATerminalWithoutAPasteKeyThePopupSaysTheVariantIsOnTheClipboard) {
  ASSERT_NO_FATAL_FAILURE(startTerminal("xterm", "echo me and him goes to store; sleep 600"));
  clickAt(originOf(window_) + QPoint(30, 6), 3);
  ASSERT_TRUE(waitUntil(
      [] {
        return QGuiApplication::clipboard()->text(QClipboard::Selection).trimmed() ==
               "me and him goes to store";
      },
      "the first line selected"))
      << QGuiApplication::clipboard()->text(QClipboard::Selection).toStdString();
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 400}));
  xdotool({"key", "alt+r"});
  const auto popup = waitForPopup();
  ASSERT_TRUE(popup) << "no popup mapped";
  const auto variant = waitForVariantInPlace([&](const ProbedWindow& window) { return window.id == *popup; });
  ASSERT_TRUE(variant);
  clickAt(variant->shown.center());

  std::optional<ProbedWidget> notice;
  EXPECT_TRUE(waitUntil([&] { return (notice = widgetIn(*popup, "notice")).has_value(); },
                        "the popup says where the variant went"))
      << "the program's windows: " << probedWindows();
  if (notice) {
    EXPECT_EQ(notice->text.toStdString(),
              "Copied to the clipboard: this terminal has no paste key Quorvelle can press.");
  }
  EXPECT_TRUE(waitUntil([&] { return QGuiApplication::clipboard()->text() == variant->text; },
                        "the variant on the clipboard"))
      << QGuiApplication::clipboard()->text().toStdString();
  EXPECT_TRUE(programWindows().contains(*popup)) << "the popup closed";
}

}  // namespace
