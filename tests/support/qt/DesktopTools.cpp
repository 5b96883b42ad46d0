#include "tests/support/qt/DesktopTools.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QTest>
#include <csignal>

namespace quorvelle::test {

namespace {
// Room for a loaded machine and a sanitizer build.
constexpr int kToolTimeout = 20000;
}  // namespace

std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& args,
                                     const QProcessEnvironment& env) {
  auto process = std::make_unique<QProcess>();
  process->setProcessEnvironment(env);
  process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process->start(program, args);
  return process;
}

void stopChild(std::unique_ptr<QProcess>& process) {
  if (!process || process->state() == QProcess::NotRunning) return;
  process->terminate();
  if (!process->waitForFinished(5000)) {
    process->kill();
    process->waitForFinished(5000);
  }
}

std::optional<QString> runTool(const QString& program, const QStringList& args) {
  QProcess process;
  process.start(program, args);
  if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kToolTimeout)) {
    process.kill();
    process.waitForFinished();
    return std::nullopt;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
  return QString::fromUtf8(process.readAllStandardOutput());
}

void xdotool(const QStringList& args) {
  ASSERT_TRUE(runTool("xdotool", args)) << "xdotool " << args.join(' ').toStdString();
}

std::optional<QRect> windowGeometry(const QString& window) {
  const auto out = runTool("xdotool", {"getwindowgeometry", "--shell", window});
  if (!out) return std::nullopt;
  QRect rect;
  for (const QString& line : out->split('\n')) {
    const QString value = line.section('=', 1);
    if (line.startsWith("X=")) rect.moveLeft(value.toInt());
    if (line.startsWith("Y=")) rect.moveTop(value.toInt());
    if (line.startsWith("WIDTH=")) rect.setWidth(value.toInt());
    if (line.startsWith("HEIGHT=")) rect.setHeight(value.toInt());
  }
  return rect;
}

}  // namespace quorvelle::test
