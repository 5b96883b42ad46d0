#include "DiziZoz/core/HedgeLog.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace dizizoz {
namespace {

std::atomic<bool> debugEnabled{false};

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

HedgeLogSink& currentSink() {
  static HedgeLogSink sink;
  return sink;
}

}  // namespace

bool hedgeLogEnabled() {
  return debugEnabled.load(std::memory_order_relaxed);
}

void setHedgeLogEnabled(bool enabled) {
  debugEnabled.store(enabled, std::memory_order_relaxed);
}

void hedgeLog(std::string_view message) {
  if (!hedgeLogEnabled()) return;
  std::string line;
  if (!message.starts_with(hedgeLogPrefix)) line = hedgeLogPrefix;
  line += message;

  HedgeLogSink sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    sink(line);
    return;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

HedgeLogSink setHedgeLogSink(HedgeLogSink sink) {
  std::lock_guard lock(sinkMutex());
  HedgeLogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace dizizoz
