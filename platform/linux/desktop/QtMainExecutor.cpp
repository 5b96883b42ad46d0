#include "platform/linux/desktop/QtMainExecutor.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace platform {
namespace {

std::chrono::milliseconds roundUp(MainExecutor::Duration d) {
  return std::max(std::chrono::ceil<std::chrono::milliseconds>(d), std::chrono::milliseconds{0});
}

}  // namespace

QtMainExecutor::QtMainExecutor() : context_(std::make_unique<QObject>()) {
  if (auto* app = QCoreApplication::instance()) context_->moveToThread(app->thread());
}

QtMainExecutor::~QtMainExecutor() = default;

bool QtMainExecutor::isMainThread() const {
  return QThread::currentThread() == context_->thread();
}

void QtMainExecutor::post(Job job) {
  QMetaObject::invokeMethod(context_.get(), std::move(job), Qt::QueuedConnection);
}

void QtMainExecutor::onMainThread(Job job) {
  if (isMainThread()) {
    job();
  } else {
    post(std::move(job));
  }
}

CancelToken QtMainExecutor::postAfter(Duration delay, Job job) {
  CancelToken token;
  auto interval = roundUp(delay);
  QObject* context = context_.get();
  // Timers belong to the thread that starts them, so they are started on the main thread.
  onMainThread([context, interval, token, job = std::move(job)] {
    if (token.isCancelled()) return;
    QTimer::singleShot(interval, Qt::PreciseTimer, context, [token, job] {
      if (!token.isCancelled()) job();
    });
  });
  return token;
}

CancelToken QtMainExecutor::scheduleRepeating(Duration interval, Job job) {
  CancelToken token;
  auto ms = std::max(roundUp(interval), std::chrono::milliseconds{1});  // no busy loop
  QObject* context = context_.get();
  onMainThread([context, ms, token, job = std::move(job)] {
    if (token.isCancelled()) return;
    auto* timer = new QTimer(context);  // deleted with the context at the latest
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(ms);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, token, job] {
      if (!token.isCancelled()) job();
      // Checked again after the job: cancelling from inside it stops the timer at once.
      if (token.isCancelled()) {
        timer->stop();
        timer->deleteLater();
      }
    });
    timer->start();
  });
  return token;
}

}  // namespace platform
