#pragma once

// Renders a decoded crash report as a plain-text crash log in the classic layout ("Report Version:
// 104"): header, exception, threads with their frames, the crashed thread's registers and the binary
// images. Nothing in the program depends on it; it is for people (tools/dzcrash-report) and tests.
//
// Not for the crash path. Any thread; the formatter holds no state beyond its two settings. Frames it
// cannot place and symbol names whose decoration it cannot undo are reported through
// DZCrashReporterLog.

#include <cstdint>
#include <string>

#include "DZCrashReporter/report/DZCrashReport.h"

namespace dzcrash {

// The one layout there is.
enum class DZCrashReportTextFormat : int { classic = 0 };

// How formatReport() turns the text into bytes. Report strings are UTF-8 as written, but a report is
// foreign data: bytes that are not UTF-8 become U+FFFD (utf8) or "?" (ascii), as does every character
// that ascii cannot hold.
enum class DZCrashReportStringEncoding { utf8, ascii };

class DZCrashReportTextFormatter {
 public:
  DZCrashReportTextFormatter(DZCrashReportTextFormat format, DZCrashReportStringEncoding encoding)
      : format_(format), encoding_(encoding) {}

  // The text of stringValueForCrashReport() in this formatter's encoding. Never fails.
  std::string formatReport(const DZCrashReport& report) const;

  // The text, with the report's strings as they are.
  static std::string stringValueForCrashReport(const DZCrashReport& report, DZCrashReportTextFormat format);

  // One frame line: index, image name, address (16 digits when lp64, else 8) and symbol or image offset.
  static std::string formatStackFrame(const DZCrashReportStackFrameInfo& frame, int64_t frameIndex,
                                      const DZCrashReport& report, bool lp64);

 private:
  DZCrashReportTextFormat format_;
  DZCrashReportStringEncoding encoding_;
};

}  // namespace dzcrash
