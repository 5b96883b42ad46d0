// libFuzzer target: the crash report reader over arbitrary bytes (mutated report files), and the text
// formatter over every report the reader accepts. Any fault, leak or sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "DZCrashReporter/DZCrashReporterLog.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"

using namespace dzcrash;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The formatter's diagnostics would otherwise fill the system log.
  DZCrashReporterSetLogSink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto report = DZCrashReport::fromData(std::span<const uint8_t>(data, size));
  if (!report.ok()) return 0;
  for (const auto encoding : {DZCrashReportStringEncoding::utf8, DZCrashReportStringEncoding::ascii})
    DZCrashReportTextFormatter(DZCrashReportTextFormat::classic, encoding).formatReport(report.value());
  for (const auto& image : report.value().images()) {
    report.value().imageForAddress(image.imageBaseAddress() + image.imageSize());
    report.value().imageForAddress(image.imageBaseAddress() + image.imageSize() - 1);
  }
  return 0;
}
