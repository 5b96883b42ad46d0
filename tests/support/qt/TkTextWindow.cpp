#include "tests/support/qt/TkTextWindow.h"

#include "tests/support/Eventually.h"

namespace quorvelle::test {
namespace {

// A Tcl string literal of `text`: braces quote everything but backslashes and unbalanced braces, which
// the tests never use.
QString tclQuoted(const QString& text) {
  return '{' + text + '}';
}

}  // namespace

TkTextWindow::TkTextWindow(Options options) {
  process_.start(QStringLiteral("wish"), {});
  if (!waitUntil([&] { return process_.state() == QProcess::Running; }, "wish started")) return;
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
  ready_ = waitUntil([&] { return process_.canReadLine(); }, "wish showed its window") &&
           process_.readLine().trimmed() == "ready";
}

TkTextWindow::~TkTextWindow() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.kill();
  process_.waitForFinished();
}

std::optional<QString> TkTextWindow::ask(const QString& command) {
  process_.write(QStringLiteral("puts [%1]; flush stdout\n").arg(command).toUtf8());
  if (!waitUntil([&] { return process_.canReadLine(); }, "wish answered")) return std::nullopt;
  return QString::fromUtf8(process_.readLine()).chopped(1);
}

void TkTextWindow::select(int from, int to) {
  ask(QStringLiteral(".e selection range %1 %2").arg(from).arg(to));
}

void TkTextWindow::focus() {
  ask(QStringLiteral("focus -force .e"));
}

void TkTextWindow::copyToClipboard(const QString& text) {
  ask(QStringLiteral("clipboard clear; clipboard append %1").arg(tclQuoted(text)));
}

std::optional<QString> TkTextWindow::window() {
  return ask(QStringLiteral("wm frame ."));
}

std::optional<QString> TkTextWindow::text() {
  return ask(QStringLiteral(".e get"));
}

}  // namespace quorvelle::test
