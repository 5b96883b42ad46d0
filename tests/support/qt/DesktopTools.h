#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
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
// Runs a short command (20 s at most) and gives its standard output, or nothing when it failed.
std::optional<QString> runTool(const QString& program, const QStringList& args);
// Runs xdotool, and fails the test when it fails.
void xdotool(const QStringList& args);
// The frame of an X window, by id, from xdotool.
std::optional<QRect> windowGeometry(const QString& window);

}  // namespace quorvelle::test
