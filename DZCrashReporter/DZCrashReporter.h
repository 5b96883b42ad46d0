#pragma once

// The crash reporter's one object for the rest of the program: configured by a DZCrashReporterConfig,
// it decides where reports live, installs the crash handlers once per process, gives the report left
// by a crashed run (the pending report) as raw bytes for DZCrashReport, writes reports of the running
// process on demand (live reports), and carries the application's custom data into every report.
//
// Files: the report directory is <base> / "com.dizizoz.crashreporter.data" / <application identifier
// with every "/" replaced by "_">, where <base> is the configured base path, else $XDG_CACHE_HOME
// (when absolute), else ~/.cache. The pending report is "live_report.dzcrash" in it; the crash path
// writes exactly that file. "queued_reports" in it is created and not otherwise used. Live reports are
// written to a mkstemp file "live_crash_report.XXXXXX" in $TMPDIR (else /tmp), removed after reading.
//
// Only one reporter per process is ever enabled, and only once: handlers are never removed. Crashes
// are caught by signal only (SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP) and by the uncaught
// C++ exception hook; a stack overflow is reported on the thread that enabled the reporter, which has
// the handler's alternate signal stack, and on the threads the project starts (worker, serial-queue and
// HTTP threads), which set up one of their own once a reporter is enabled (platform/ThreadSignalStack.h);
// not on threads other libraries start.
//
// Threads: construct, enable, read and purge on one thread (the program's set-up thread); setCustomData
// and customData from any thread. Errors are values (DZCrashReporterError.h); log lines go to
// DZCrashReporterLog.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DZCrashReporter/DZCrashReporterConfig.h"
#include "DZCrashReporter/DZCrashReporterError.h"
#include "DZCrashReporter/capture/DZCrashSignalCapture.h"

namespace dzcrash {

// Callbacks run on the crashed thread after its report was written (async-signal-safe code only).
using DZCrashReporterCallbacks = dzcrash_crash_callbacks;

// An exception to record in a live report: its type name, reason and call stack's return addresses.
struct DZCrashReporterExceptionRecord {
  std::string name;
  std::string reason;
  std::vector<uint64_t> callStackReturnAddresses;
};

class DZCrashReporter {
 public:
  // The directory names under the base path.
  static constexpr const char* kDataDirectoryName = "com.dizizoz.crashreporter.data";
  static constexpr const char* kPendingReportName = "live_report.dzcrash";
  static constexpr const char* kQueuedReportsName = "queued_reports";

  // A reporter with the given identity.
  DZCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                  std::optional<std::string> applicationMarketingVersion, DZCrashReporterConfig config = {});

  // A reporter whose missing identity comes from the process: the identifier from the process's short
  // name (logged as a warning), the version "" (logged as a warning). Fails (code operatingSystem) with
  // "Can not determine process identifier or process name" when the process has no name.
  static DZCrashReporterResult<std::unique_ptr<DZCrashReporter>> create(
      DZCrashReporterConfig config = {}, std::optional<std::string> applicationIdentifier = std::nullopt,
      std::optional<std::string> applicationVersion = std::nullopt,
      std::optional<std::string> applicationMarketingVersion = std::nullopt);

  // The process's shared reporter, made on first use with the process's identity and the default
  // configuration; null when that identity cannot be determined. Lives for the process.
  static DZCrashReporter* sharedReporter();

  DZCrashReporter(const DZCrashReporter&) = delete;
  DZCrashReporter& operator=(const DZCrashReporter&) = delete;

  const DZCrashReporterConfig& config() const { return config_; }
  const std::string& applicationIdentifier() const { return applicationIdentifier_; }
  const std::string& applicationVersion() const { return applicationVersion_; }
  const std::optional<std::string>& applicationMarketingVersion() const {
    return applicationMarketingVersion_;
  }

  const std::string& crashReportDirectory() const { return crashReportDirectory_; }
  const std::string& crashReportPath() const { return crashReportPath_; }
  const std::string& queuedCrashReportDirectory() const { return queuedCrashReportDirectory_; }

  // Creates the report and queued directories (and their parents, mode 0755) when missing.
  std::optional<DZCrashReporterError> populateCrashReportDirectory() const;

  // Whether a file exists at crashReportPath().
  bool hasPendingCrashReport() const;
  // The pending report's bytes.
  DZCrashReporterResult<std::vector<uint8_t>> loadPendingCrashReportData() const;
  // Removes the pending report; an error when there is none or it cannot be removed.
  std::optional<DZCrashReporterError> purgePendingCrashReport() const;

  // Installs the crash handlers: creates the directories, sets up the crash context (the report path,
  // the size cap, the report writer with this reporter's identity and custom data), fills the process's
  // image list, registers the signal handlers the configuration asks for and the exception hook.
  // A second call on any reporter of the process fails with code alreadyEnabled ("A DZCrashReporter
  // instance has already been enabled"), also after a failed first call.
  std::optional<DZCrashReporterError> enableCrashReporter();
  bool enabled() const { return enabled_; }

  // A report of the running process, marked user-requested, with signal SIGTRAP / TRAP_TRACE at
  // address 0. Without `thread`, or with the calling thread's id, the calling thread is the crashed
  // thread, walked from this call; another thread (a kernel thread id of this process) is the crashed
  // thread walked where it stands, and the calling thread is left out. Errors: "Failed to create
  // temporary path" (operatingSystem), "Failed to write the crash report to disk" and "Unable to open
  // live crash report for reading" (outputFailed). The temporary file never outlives the call.
  DZCrashReporterResult<std::vector<uint8_t>> generateLiveReport(
      std::optional<pid_t> thread = std::nullopt,
      const std::optional<DZCrashReporterExceptionRecord>& exception = std::nullopt) const;

  // Replaces the process's crash callbacks. Fails with code alreadyEnabled ("The crash reporter has
  // already been enabled") once this reporter is enabled.
  std::optional<DZCrashReporterError> setCrashCallbacks(const DZCrashReporterCallbacks& callbacks);

  // Stores the data (nullopt clears it) and, once any reporter of the process is enabled, replaces the
  // custom data of the reports the crash path writes, whichever reporter this is. A crash at the same
  // moment writes the old value or the new one, whole. Any thread.
  void setCustomData(std::optional<std::vector<uint8_t>> data);
  std::optional<std::vector<uint8_t>> customData() const;

 private:
  uint32_t asyncSymbolicationStrategy() const { return config_.symbolicationStrategy & 3u; }

  DZCrashReporterConfig config_;
  bool enabled_ = false;
  std::string applicationIdentifier_;
  std::string applicationVersion_;
  std::optional<std::string> applicationMarketingVersion_;
  std::string crashReportDirectory_;
  std::string crashReportPath_;
  std::string queuedCrashReportDirectory_;
  // Guarded by the process-wide custom-data mutex.
  std::optional<std::vector<uint8_t>> customData_;
};

}  // namespace dzcrash
