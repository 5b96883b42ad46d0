#pragma once

// A written report decoded into the reader's model, and the questions tests ask of its threads.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.h"

namespace dzcrash::test {

// The decoded report; a report that does not decode fails the test and ends it (nothing after it could
// be checked).
inline DZCrashReport decode(const std::vector<uint8_t>& bytes) {
  auto report = DZCrashReport::fromData(bytes);
  if (!report.ok()) {
    ADD_FAILURE() << report.error().description();
    std::abort();
  }
  return std::move(report).value();
}

// The names of the thread's symbolicated frames.
inline std::set<std::string> symbolsOf(const DZCrashReportThreadInfo& thread) {
  std::set<std::string> names;
  for (const auto& frame : thread.stackFrames()) {
    if (frame.symbolInfo()) names.insert(frame.symbolInfo()->symbolName());
  }
  return names;
}

// The thread marked crashed, or null.
inline const DZCrashReportThreadInfo* crashedThread(const DZCrashReport& report) {
  for (const auto& thread : report.threads()) {
    if (thread.crashed()) return &thread;
  }
  return nullptr;
}

}  // namespace dzcrash::test
