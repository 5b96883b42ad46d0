#include "DZCrashReporter/capture/DZCrashSignalCapture.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncFile.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash {

dzcrash_signal_handler_context signal_handler_context = {};

namespace {

// Published whole; a replaced record is never freed, since a crash may be reading it.
std::atomic<const dzcrash_crash_callbacks*> crashCallbacks{nullptr};

// The thread that claimed the crash; 0 until one does.
std::atomic<pid_t> gCrashingThread{0};

std::atomic<int> exception_is_handled{0};

// Restores the default action of every monitored signal. async-signal-safe.
void restoreDefaultActions() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signo : monitored_signals) sigaction(signo, &action, nullptr);
}

// The calling thread's return addresses, innermost first.
struct StackCollector {
  std::vector<uint64_t> addresses;
};

dzcrash_error_t collectStack(dzcrash_async_thread_state* state, void* context) {
  auto* collector = static_cast<StackCollector*>(context);
  auto cursor = std::make_unique<dzframe_cursor>();
  DZframe_cursor_init(cursor.get(), DZcrash_async_task_self(), state, &shared_image_list);
  collector->addresses.reserve(DZCRASH_WRITER_MAX_FRAMES);
  while (collector->addresses.size() < DZCRASH_WRITER_MAX_FRAMES &&
         DZframe_cursor_next(cursor.get()) == DZFRAME_OK) {
    uint64_t ip = 0;
    if (DZframe_cursor_get_reg(cursor.get(), DZCRASH_REG_IP, &ip) != DZFRAME_OK) break;
    collector->addresses.push_back(ip);
  }
  DZframe_cursor_free(cursor.get());
  return DZCRASH_OK;
}

std::string demangledCurrentExceptionType() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return {};
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type->name());
}

void recordCurrentException() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return;
  const std::string name = demangledCurrentExceptionType();
  std::string reason;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
  }
  StackCollector stack;
  DZcrash_async_thread_state_current(collectStack, &stack);
  DZcrash_log_writer_set_exception(&signal_handler_context.writer, name.c_str(), reason.c_str(),
                                   stack.addresses.data(), stack.addresses.size());
}

}  // namespace

void DZcrash_nasync_set_crash_callbacks(const dzcrash_crash_callbacks& callbacks) {
  crashCallbacks.store(new dzcrash_crash_callbacks(callbacks));
}

dzcrash_error_t dzcrash_write_report(dzcrash_signal_handler_context* context, pid_t crashed_thread,
                                     const dzcrash_async_thread_state* current_state,
                                     const dzcrash_log_signal_info_t* siginfo) {
  const int fd = open(context->path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return DZCRASH_INTERNAL;
  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, fd, context->max_report_bytes);
  const dzcrash_error_t result = DZcrash_log_writer_write(&context->writer, crashed_thread,
                                                          &shared_image_list, &file, siginfo, current_state);
  DZcrash_log_writer_close(&context->writer);
  if (!DZcrash_async_file_close(&file)) return DZCRASH_INTERNAL;
  return result;
}

bool signal_handler_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                             dzcrash_signal_handler_callback*) {
  const pid_t self = DZ_mach_thread_self();
  pid_t owner = 0;
  if (!gCrashingThread.compare_exchange_strong(owner, self)) {
    if (owner == self) {
      restoreDefaultActions();
      return false;
    }
    // Another thread is writing the report. Waiting here keeps this thread's registers for the report's
    // thread capture (its signal stays open); the process ends with the other thread's signal.
    for (;;) pause();
  }

  dzcrash_async_thread_state state;
  const bool haveState =
      uap != nullptr && DZcrash_async_thread_state_mcontext_init(&state, &uap->uc_mcontext) == DZCRASH_OK;
  // Outside a fault the field may hold the sender's pid (abort() is a tgkill).
  const uint64_t address =
      DZcrash_signal_is_fault(signo, info) ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
  const dzcrash_log_bsd_signal_info_t bsd = {info != nullptr ? info->si_signo : signo,
                                             info != nullptr ? info->si_code : 0, address};
  const dzcrash_log_signal_info_t siginfo = {&bsd, nullptr};
  auto* crashContext = static_cast<dzcrash_signal_handler_context*>(context);
  if (dzcrash_write_report(crashContext, self, haveState ? &state : nullptr, &siginfo) == DZCRASH_OK) {
    const dzcrash_crash_callbacks* callbacks = crashCallbacks.load();
    if (callbacks != nullptr && callbacks->handleSignal != nullptr) {
      callbacks->handleSignal(info, uap, callbacks->context);
    }
  }
  restoreDefaultActions();
  return false;
}

void uncaught_exception_handler() {
  int expected = 0;
  if (!exception_is_handled.compare_exchange_strong(expected, 1)) {
    // Another thread's exception is being recorded and that thread is about to abort. Aborting here
    // could claim the crash first and leave its exception out of the report.
    for (;;) pause();
  }
  recordCurrentException();
  std::abort();
}

}  // namespace dzcrash
