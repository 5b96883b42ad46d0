#pragma once

// What the crash reporter runs when the process crashes: the signal callback that writes the pending
// report, the report file's writer, the callbacks the application may run afterwards, and the
// uncaught C++ exception hook. The facade (DZCrashReporter.h) fills the crash context and installs
// these; they read it only.
//
// One crash at a time: the first thread that crashes claims the crash and writes the report. A thread
// that crashes meanwhile waits in its handler, where the report's thread capture records it with the
// rest, until the process ends. The claiming thread restores the default actions once the report and
// the callbacks are done and the signal is raised again; a fault of its own during that time (in the
// writer or a callback) restores them at once, so that fault ends the process instead of starting a
// second report over the first.

#include <sys/types.h>
#include <sys/ucontext.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>

#include "DZCrashReporter/capture/DZCrashSignalHandler.h"
#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/report/DZCrashLogWriter.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

namespace dzcrash {

// The signals the reporter catches, in the order they are registered.
inline constexpr std::array<int, 6> monitored_signals = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

// Everything the crash path reads. Filled once, when the reporter is enabled, before any handler is
// installed; never changed afterwards (the writer's custom data excepted, which it publishes safely).
struct dzcrash_signal_handler_context {
  dzcrash_log_writer_t writer;
  // Heap copy of the pending report's path.
  char* path;
  // Cap on the report file's size (0: none).
  uint64_t max_report_bytes;
};

extern dzcrash_signal_handler_context signal_handler_context;

// Called on the crashed thread after its report was written: the signal's information, the
// interrupted context and the callbacks' context. Must be async-signal-safe.
using dzcrash_crash_signal_callback = void (*)(siginfo_t* info, ucontext_t* uap, void* context);

struct dzcrash_crash_callbacks {
  void* context = nullptr;
  dzcrash_crash_signal_callback handleSignal = nullptr;
};

// Replaces the process's crash callbacks. The record is copied and published at once, so a crash
// running meanwhile sees the old or the new one whole. Not async-signal-safe; any thread.
void DZcrash_nasync_set_crash_callbacks(const dzcrash_crash_callbacks& callbacks);

// The reporter's entry of the signal chain (context: &signal_handler_context). Writes the report of the
// crashed thread, runs the crash callbacks when the write succeeded and returns false, never
// forwarding, so that the signal is raised again with its default action. The report's signal address
// is si_addr for a fault (DZcrash_signal_is_fault), else 0. async-signal-safe.
bool signal_handler_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                             dzcrash_signal_handler_callback* next);

// Writes the pending report at the context's path (created or truncated, mode 0644), capped at the
// context's size, with the process's image list. The write's result when the file opened, was written
// and closed; DZCRASH_INTERNAL when it could not be opened, flushed or closed. async-signal-safe.
dzcrash_error_t dzcrash_write_report(dzcrash_signal_handler_context* context, pid_t crashed_thread,
                                     const dzcrash_async_thread_state* current_state,
                                     const dzcrash_log_signal_info_t* siginfo);

// Sets aside the memory the exception hook works in. Once per process; false when it cannot be mapped.
// Not async-signal-safe; before the hook is installed.
bool DZcrash_nasync_exception_hook_prepare();

// The std::terminate handler. The first call in the process records the current exception in the
// context's writer (its demangled type, what() or "" when it is no std::exception, and the stack as it
// was thrown, since nothing was unwound: from the throwing function outward, the hook's and the C++
// runtime's frames up to and including the throw left out) and aborts; the SIGABRT report carries the
// exception. A later call, on another thread, waits for that abort to end the process. It allocates
// nothing (DZcrash_nasync_exception_hook_prepare set its memory aside), so an uncaught std::bad_alloc
// is recorded too. Not async-signal-safe (terminate runs in normal context).
[[noreturn]] void uncaught_exception_handler();

}  // namespace dzcrash
