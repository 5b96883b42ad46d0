#include "program/QuitSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/Log.h"

namespace quorvelle {
namespace {

sigset_t quitSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

QuitSignals::QuitSignals() {
  const sigset_t set = quitSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd_ < 0)
    platform::log(platform::LogLevel::warning, "QuitSignals: no signalfd; signals end the program");
}

QuitSignals::~QuitSignals() {
  if (fd_ >= 0) ::close(fd_);
}

void QuitSignals::listen() {
  if (fd_ < 0) {
    // Without a way to hear them, the signals must at least still end the program.
    const sigset_t set = quitSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return;
  }
  // Owned by the application, which ends before this object closes the descriptor.
  auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [fd = fd_] {
    signalfd_siginfo info;
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    QCoreApplication::quit();
  });
}

}  // namespace quorvelle
