#include "tests/support/qt/TkTextWindow.h"

#include <QTest>

namespace quorvelle::test {
namespace {

constexpr int kTimeoutMs = 10000;

// A Tcl string literal of `text`: braces quote everything but backslashes and unbalanced braces, which
// the tests never use.
QString tclQuoted(const QString& text) {
  return '{' + text + '}';
}

}  // namespace

TkTextWindow::TkTextWindow(Options options) {
  process_.start(QStringLiteral("wish"), {});
  if (!process_.waitForStarted(kTimeoutMs)) return;
  const QRect& g = options.geometry;
  const QString script = QStringLiteral(
                             "wm title . %1\n"
                             "wm geometry . %2x%3+%4+%5\n"
                             "entry .e -exportselection %6\n"
                             "pack .e -fill both -expand 1\n"
                             ".e insert 0 %7\n"
                             "%8"
                             "tkwait visibility .e\n"
                             "puts ready; flush stdout\n")
                             .arg(tclQuoted(options.title))
                             .arg(g.width())
                             .arg(g.height())
                             .arg(g.x())
                             .arg(g.y())
                             .arg(options.exportSelection ? 1 : 0)
                             .arg(tclQuoted(options.text))
                             .arg(options.fullScreen ? "wm attributes . -fullscreen 1\n" : "");
  process_.write(script.toUtf8());
  ready_ = QTest::qWaitFor([&] { return process_.canReadLine(); }, kTimeoutMs) &&
           process_.readLine().trimmed() == "ready";
}

TkTextWindow::~TkTextWindow() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.kill();
  process_.waitForFinished(kTimeoutMs);
}

std::optional<QString> TkTextWindow::ask(const QString& command) {
  process_.write(QStringLiteral("puts [%1]; flush stdout\n").arg(command).toUtf8());
  if (!QTest::qWaitFor([&] { return process_.canReadLine(); }, kTimeoutMs)) return std::nullopt;
  return QString::fromUtf8(process_.readLine()).chopped(1);
}

void TkTextWindow::select(int from, int to) {
  ask(QStringLiteral(".e selection range %1 %2").arg(from).arg(to));
}

void TkTextWindow::focus() {
  ask(QStringLiteral("focus -force .e"));
}

std::optional<QString> TkTextWindow::text() {
  return ask(QStringLiteral(".e get"));
}

}  // namespace quorvelle::test
