#include "DZCrashReporter/DZCrashReporterLog.h"

#include <syslog.h>

#include <mutex>
#include <string>
#include <utility>

namespace dzcrash {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

DZCrashReporterLogSink& currentSink() {
  static DZCrashReporterLogSink sink;
  return sink;
}

}  // namespace

void DZCrashReporterLog(std::string_view message) {
  std::string line(DZCrashReporterLogPrefix);
  line.append(message);
  DZCrashReporterLogSink sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    sink(line);
    return;
  }
  syslog(LOG_NOTICE, "%s", line.c_str());
}

DZCrashReporterLogSink DZCrashReporterSetLogSink(DZCrashReporterLogSink sink) {
  std::lock_guard lock(sinkMutex());
  return std::exchange(currentSink(), std::move(sink));
}

}  // namespace dzcrash
