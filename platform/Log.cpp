#include "platform/Log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace platform {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

LogSink& currentSink() {
  static LogSink sink;
  return sink;
}

const char* levelName(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return "debug";
    case LogLevel::info: return "info";
    case LogLevel::warning: return "warning";
    case LogLevel::error: return "error";
  }
  return "?";
}

}  // namespace

void log(LogLevel level, std::string_view message) {
  LogSink sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    sink(level, message);
    return;
  }
  std::string line = std::string("[") + levelName(level) + "] " + std::string(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(sinkMutex());
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace platform
