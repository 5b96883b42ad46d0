#pragma once

// How a DZCrashReporter catches crashes and where it keeps its reports. A plain value: build it with
// designated initialisers (every field has its default) and hand it to the reporter, which keeps its
// own copy.

#include <cstdint>
#include <optional>
#include <string>

namespace dzcrash {

struct DZCrashReporterConfig {
  // 0 and 1 install the handlers of the six crash signals (this system has no exception ports, so the
  // exception-server type catches by signal too); any other value installs none.
  uint32_t signalHandlerType = 0;
  // Bit 0: name frames from the images' symbol tables (ELF: the dynamic symbol table); bit 1:
  // Objective-C metadata (Mach-O images only). 0 writes no symbols. Higher bits are ignored.
  uint32_t symbolicationStrategy = 0;
  // Install the uncaught C++ exception hook (std::set_terminate).
  bool shouldRegisterUncaughtExceptionHandler = true;
  // Cap on a report file's size.
  uint64_t maxReportBytes = 1024 * 1024;
  // Parent of the report directory; unset (or empty): $XDG_CACHE_HOME, else ~/.cache.
  std::optional<std::string> basePath;

  static DZCrashReporterConfig defaultConfiguration() { return {}; }
};

}  // namespace dzcrash
