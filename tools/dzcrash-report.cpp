// Prints a crash report file in the classic text layout, or why the reader refused it.
// Usage: dzcrash-report FILE. Exit status 0 when printed, 1 when the file cannot be read or decoded,
// 2 on a usage error. The formatter's diagnostics go to standard error instead of the system log.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.h"
#include "tools/PrintCrashReport.h"

using namespace dzcrash;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dzcrash-report FILE\n");
    return 2;
  }
  const char* path = argv[1];
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "dzcrash-report: cannot read %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::fprintf(stderr, "dzcrash-report: cannot read %s\n", path);
    return 1;
  }

  const auto report = DZCrashReport::fromData(bytes);
  if (!report.ok()) {
    const DZCrashReporterError& error = report.error();
    std::fprintf(stderr, "dzcrash-report: %s: %s (%.*s %d)\n", path, error.description().c_str(),
                 static_cast<int>(error.domain().size()), error.domain().data(),
                 static_cast<int>(error.code()));
    return 1;
  }

  tools::logToStandardError();
  return tools::printReport(report.value());
}
