#include "DZCrashReporter/DZCrashReporter.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "DZCrashReporter/DZCrashReporterLog.h"
#include "DZCrashReporter/capture/DZCrashSignalHandler.h"
#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "platform/ThreadSignalStack.h"

namespace dzcrash {

namespace {

constexpr const char* kLiveReportTemplate = "live_crash_report.XXXXXX";
constexpr mode_t kDirectoryMode = 0755;

// Guards every reporter's stored custom data and whether the crash context's writer takes it.
std::mutex& customDataMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}
// Set once the crash context's writer is set up; guarded by customDataMutex().
bool gContextWriterReady = false;

// A value's bytes for the writer, which takes a null pointer for "no value": an empty value is not null.
const void* bytesOf(const std::vector<uint8_t>& value) {
  static const uint8_t none = 0;
  return value.empty() ? &none : value.data();
}

std::string errnoText(int error) {
  return std::strerror(error);
}

DZCrashReporterError osError(std::string description, int error) {
  return DZCrashReporterError(DZCrashReporterErrorCode::operatingSystem, std::move(description), error);
}

std::string nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string homeDirectory() {
  std::string home = nonEmptyEnv("HOME");
  if (!home.empty()) return home;
  passwd entry;
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

// The user's cache directory: $XDG_CACHE_HOME when it is an absolute path (relative ones are to be
// ignored), else ~/.cache.
std::string cacheDirectory() {
  const std::string xdg = nonEmptyEnv("XDG_CACHE_HOME");
  if (!xdg.empty() && xdg.front() == '/') return xdg;
  const std::string home = homeDirectory();
  return (home.empty() ? std::string(".") : home) + "/.cache";
}

std::string joinPath(const std::string& parent, const std::string& name) {
  if (parent.empty()) return name;
  return parent.back() == '/' ? parent + name : parent + "/" + name;
}

// mkdir -p with mode 0755; an existing directory is fine.
std::optional<DZCrashReporterError> makeDirectories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), kDirectoryMode) == 0 || errno == EEXIST) continue;
    return osError("Could not create the directory " + prefix + ": " + errnoText(errno), errno);
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0)
    return osError("Could not create the directory " + path + ": " + errnoText(errno), errno);
  if (!S_ISDIR(info.st_mode))
    return osError("Could not create the directory " + path + ": " + errnoText(ENOTDIR), ENOTDIR);
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> readWholeFile(const std::string& path, int* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      close(fd);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  close(fd);
  return bytes;
}

// Fills the process's image list once: enabling needs it before any handler is installed, and a live
// report made before enabling needs it as much (images found only at write time are read in less
// depth). Later loads are found at write time. False when the list cannot be made.
bool ensureSharedImageList() {
  static const bool ready = [] {
    const dzcrash_image_parser parser = DZcrash_elf_image_parser();
    if (!DZcrash_nasync_image_list_init(&shared_image_list, DZcrash_async_task_self(), &parser)) return false;
    DZcrash_nasync_image_list_add_loaded(&shared_image_list);
    return true;
  }();
  return ready;
}

// What a live report's write of the calling thread needs inside DZcrash_async_thread_state_current.
struct LiveWrite {
  dzcrash_log_writer_t* writer;
  dzcrash_async_file_t* file;
  const dzcrash_log_signal_info_t* siginfo;
};

dzcrash_error_t writeFromHere(dzcrash_async_thread_state* state, void* context) {
  auto* live = static_cast<LiveWrite*>(context);
  return DZcrash_log_writer_write(live->writer, DZ_mach_thread_self(), &shared_image_list, live->file,
                                  live->siginfo, state);
}

}  // namespace

DZCrashReporter::DZCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                                 std::optional<std::string> applicationMarketingVersion,
                                 DZCrashReporterConfig config)
    : config_(std::move(config)),
      applicationIdentifier_(std::move(applicationIdentifier)),
      applicationVersion_(std::move(applicationVersion)),
      applicationMarketingVersion_(std::move(applicationMarketingVersion)) {
  std::string directoryName = applicationIdentifier_;
  for (char& c : directoryName) {
    if (c == '/') c = '_';
  }
  const std::string base =
      config_.basePath && !config_.basePath->empty() ? *config_.basePath : cacheDirectory();
  crashReportDirectory_ = joinPath(joinPath(base, kDataDirectoryName), directoryName);
  crashReportPath_ = joinPath(crashReportDirectory_, kPendingReportName);
  queuedCrashReportDirectory_ = joinPath(crashReportDirectory_, kQueuedReportsName);
}

DZCrashReporterResult<std::unique_ptr<DZCrashReporter>> DZCrashReporter::create(
    DZCrashReporterConfig config, std::optional<std::string> applicationIdentifier,
    std::optional<std::string> applicationVersion, std::optional<std::string> applicationMarketingVersion) {
  if (!applicationIdentifier || applicationIdentifier->empty()) {
    const char* name = program_invocation_short_name;
    if (name == nullptr || name[0] == '\0') {
      return osError("Can not determine process identifier or process name", ESRCH);
    }
    DZCrashReporterLog(std::string("Warning -- bundle identifier, using process name ") + name);
    applicationIdentifier = name;
  }
  if (!applicationVersion) {
    DZCrashReporterLog("Warning -- bundle version unavailable");
    applicationVersion = "";
  }
  return std::make_unique<DZCrashReporter>(std::move(*applicationIdentifier), std::move(*applicationVersion),
                                           std::move(applicationMarketingVersion), std::move(config));
}

DZCrashReporter* DZCrashReporter::sharedReporter() {
  static DZCrashReporter* const shared = []() -> DZCrashReporter* {
    auto made = create(DZCrashReporterConfig::defaultConfiguration());
    if (!made.ok()) {
      DZCrashReporterLog(made.error().description());
      return nullptr;
    }
    return std::move(made).value().release();
  }();
  return shared;
}

std::optional<DZCrashReporterError> DZCrashReporter::populateCrashReportDirectory() const {
  if (auto error = makeDirectories(crashReportDirectory_)) return error;
  return makeDirectories(queuedCrashReportDirectory_);
}

bool DZCrashReporter::hasPendingCrashReport() const {
  return access(crashReportPath_.c_str(), F_OK) == 0;
}

DZCrashReporterResult<std::vector<uint8_t>> DZCrashReporter::loadPendingCrashReportData() const {
  int error = 0;
  auto bytes = readWholeFile(crashReportPath_, &error);
  if (!bytes)
    return osError("Could not read the pending crash report " + crashReportPath_ + ": " + errnoText(error),
                   error);
  return std::move(*bytes);
}

std::optional<DZCrashReporterError> DZCrashReporter::purgePendingCrashReport() const {
  if (unlink(crashReportPath_.c_str()) != 0) {
    return osError("Could not remove the pending crash report " + crashReportPath_ + ": " + errnoText(errno),
                   errno);
  }
  return std::nullopt;
}

std::optional<DZCrashReporterError> DZCrashReporter::enableCrashReporter() {
  {
    static std::mutex* const enableMutex = new std::mutex;
    static bool enforceOne = false;
    std::lock_guard guard(*enableMutex);
    if (enforceOne) {
      return DZCrashReporterError(DZCrashReporterErrorCode::alreadyEnabled,
                                  "A DZCrashReporter instance has already been enabled");
    }
    enforceOne = true;
  }
  if (enabled_) {
    return DZCrashReporterError(DZCrashReporterErrorCode::alreadyEnabled,
                                "The crash reporter has already been enabled");
  }
  if (auto error = populateCrashReportDirectory()) return error;

  // The crash context: complete before any handler can read it.
  dzcrash_signal_handler_context& context = signal_handler_context;
  context.path = strdup(crashReportPath_.c_str());
  if (context.path == nullptr) return osError("Could not set up the crash context", ENOMEM);
  context.max_report_bytes = config_.maxReportBytes;
  const dzcrash_error_t initResult =
      DZcrash_log_writer_init(&context.writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                              applicationMarketingVersion_ ? applicationMarketingVersion_->c_str() : nullptr,
                              asyncSymbolicationStrategy(), false);
  // DZCRASH_INVALID_ARGUMENT leaves the process sections empty; the writer still writes.
  if (initResult == DZCRASH_NO_MEMORY) return osError("Could not set up the crash report writer", ENOMEM);
  {
    std::lock_guard guard(customDataMutex());
    if (customData_)
      DZcrash_log_writer_set_custom_data(&context.writer, bytesOf(*customData_), customData_->size());
    gContextWriterReady = true;
  }

  if (!ensureSharedImageList()) return osError("Could not create the image list", ENOMEM);

  if (config_.signalHandlerType == 0 || config_.signalHandlerType == 1) {
    DZCrashSignalHandler* handler = DZCrashSignalHandler::sharedHandler();
    if (handler == nullptr) return osError("Could not initialize alternative signal stack", ENOMEM);
    for (const int signo : monitored_signals) {
      if (auto error =
              handler->registerHandlerForSignal(signo, signal_handler_callback, &signal_handler_context)) {
        return error;
      }
    }
    // The project's own threads set up stacks of their own like it, so that their overflows are
    // reported too.
    platform::requestThreadSignalStacks(handler->alternateStackSize());
  }
  if (config_.shouldRegisterUncaughtExceptionHandler) {
    if (!DZcrash_nasync_exception_hook_prepare())
      return osError("Could not set up the exception hook", ENOMEM);
    std::set_terminate(uncaught_exception_handler);
  }
  enabled_ = true;
  return std::nullopt;
}

DZCrashReporterResult<std::vector<uint8_t>> DZCrashReporter::generateLiveReport(
    std::optional<pid_t> thread, const std::optional<DZCrashReporterExceptionRecord>& exception) const {
  ensureSharedImageList();
  const std::string tmp = nonEmptyEnv("TMPDIR");
  std::string path = joinPath(tmp.empty() ? std::string("/tmp") : tmp, kLiveReportTemplate);
  const int fd = mkstemp(path.data());
  if (fd < 0) return osError("Failed to create temporary path", errno);

  dzcrash_log_writer_t writer;
  dzcrash_error_t result =
      DZcrash_log_writer_init(&writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                              applicationMarketingVersion_ ? applicationMarketingVersion_->c_str() : nullptr,
                              asyncSymbolicationStrategy(), true);
  if (result == DZCRASH_INVALID_ARGUMENT) result = DZCRASH_OK;
  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, fd, config_.maxReportBytes);
  if (result == DZCRASH_OK) {
    if (auto data = customData()) DZcrash_log_writer_set_custom_data(&writer, bytesOf(*data), data->size());
    if (exception) {
      DZcrash_log_writer_set_exception(&writer, exception->name.c_str(), exception->reason.c_str(),
                                       exception->callStackReturnAddresses.data(),
                                       exception->callStackReturnAddresses.size());
    }
    const dzcrash_log_bsd_signal_info_t bsd = {SIGTRAP, TRAP_TRACE, 0};
    const dzcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    if (!thread || *thread == DZ_mach_thread_self()) {
      LiveWrite live = {&writer, &file, &siginfo};
      result = DZcrash_async_thread_state_current(writeFromHere, &live);
    } else {
      result = DZcrash_log_writer_write(&writer, *thread, &shared_image_list, &file, &siginfo, nullptr);
    }
    DZcrash_log_writer_close(&writer);
  }
  if (!DZcrash_async_file_close(&file) && result == DZCRASH_OK) result = DZCRASH_OUTPUT_FAILED;
  DZcrash_log_writer_free(&writer);

  std::optional<std::vector<uint8_t>> bytes;
  int readError = 0;
  if (result == DZCRASH_OK) bytes = readWholeFile(path, &readError);
  if (unlink(path.c_str()) != 0) {
    DZCrashReporterLog(std::string("Failure occured deleting live crash report: ") + errnoText(errno));
  }
  if (result != DZCRASH_OK) {
    DZCrashReporterLog(std::string("Write failed with error ") + DZcrash_async_strerror(result));
    return DZCrashReporterError(DZCrashReporterErrorCode::outputFailed,
                                "Failed to write the crash report to disk");
  }
  if (!bytes) {
    return DZCrashReporterError(DZCrashReporterErrorCode::outputFailed,
                                "Unable to open live crash report for reading", readError);
  }
  return std::move(*bytes);
}

std::optional<DZCrashReporterError> DZCrashReporter::setCrashCallbacks(
    const DZCrashReporterCallbacks& callbacks) {
  if (enabled_) {
    return DZCrashReporterError(DZCrashReporterErrorCode::alreadyEnabled,
                                "The crash reporter has already been enabled");
  }
  DZcrash_nasync_set_crash_callbacks(callbacks);
  return std::nullopt;
}

void DZCrashReporter::setCustomData(std::optional<std::vector<uint8_t>> data) {
  std::lock_guard guard(customDataMutex());
  customData_ = std::move(data);
  if (!gContextWriterReady) return;
  const bool copied = DZcrash_log_writer_set_custom_data(&signal_handler_context.writer,
                                                         customData_ ? bytesOf(*customData_) : nullptr,
                                                         customData_ ? customData_->size() : 0);
  if (!copied) DZCrashReporterLog("Could not copy the custom data; reports keep the previous value");
}

std::optional<std::vector<uint8_t>> DZCrashReporter::customData() const {
  std::lock_guard guard(customDataMutex());
  return customData_;
}

}  // namespace dzcrash
