#pragma once

// How the crash reporter's tools print a report (in the classic text layout, on standard output) and
// the reporter's log lines (on standard error, in place of the system log).

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "DZCrashReporter/DZCrashReporterLog.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"

namespace dzcrash::tools {

inline void logToStandardError() {
  DZCrashReporterSetLogSink([](std::string_view line) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  });
}

// Prints the report; the exit status: 0, or 1 when standard output failed.
inline int printReport(const DZCrashReport& report) {
  const std::string text =
      DZCrashReportTextFormatter(DZCrashReportTextFormat::classic, DZCrashReportStringEncoding::utf8)
          .formatReport(report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// Decodes a report file's bytes and prints the report. When the reader refuses them, says why on
// standard error after "<tool>: " and returns 1.
inline int printReportData(const char* tool, const std::vector<uint8_t>& bytes) {
  const auto report = DZCrashReport::fromData(bytes);
  if (!report.ok()) {
    std::fprintf(stderr, "%s: %s\n", tool, report.error().description().c_str());
    return 1;
  }
  return printReport(report.value());
}

}  // namespace dzcrash::tools
