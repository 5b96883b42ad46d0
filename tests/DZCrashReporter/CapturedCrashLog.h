#pragma once

// Collects the crash reporter's log lines for the life of the object, in place of the system log.

#include <string>
#include <string_view>
#include <vector>

#include "DZCrashReporter/DZCrashReporterLog.h"

namespace dzcrash::test {

class CapturedCrashLog {
 public:
  CapturedCrashLog() {
    previous_ = DZCrashReporterSetLogSink([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~CapturedCrashLog() { DZCrashReporterSetLogSink(previous_); }
  CapturedCrashLog(const CapturedCrashLog&) = delete;
  CapturedCrashLog& operator=(const CapturedCrashLog&) = delete;

  std::vector<std::string> lines;

 private:
  DZCrashReporterLogSink previous_;
};

}  // namespace dzcrash::test
