#pragma once

// The process's one signal-handler registry. It installs DZcrash_signal_handler once per signal, on an
// alternate signal stack, and runs a chain of callbacks for every delivery: the newest registered
// callback first, then one entry per registration that hands the signal to the action installed
// before ours (its handler; nothing for SIG_IGN; the default action for SIG_DFL).
//
// A callback passes the signal down the chain only by calling DZCrashSignalHandlerForward with the
// handle it was given. When the chain does not handle the signal, the handler restores the signal's
// default action and raises it again, so that the process ends by that signal instead of meeting the
// handler again.
//
// The alternate stack belongs to the first thread that registers (the one that enables the crash
// reporter): a thread's alternate stack is its own, and one stack shared by two crashing threads would
// be overwritten. Of the other threads, only those that set up a stack of their own (the project's, see
// platform/ThreadSignalStack.h) can report the overflow of theirs. The stack holds at least
// 64 KiB above the kernel's minimum signal frame, with an inaccessible page below it.
//
// Registration and reset: any thread, serialised by one mutex; not async-signal-safe. Delivery and
// forwarding: async-signal-safe (the lists are read without locks).

#include <csignal>
#include <cstddef>
#include <optional>

#include "DZCrashReporter/DZCrashReporterError.h"

namespace dzcrash {

// The rest of the chain after a callback; lives on the handler's stack for one delivery.
struct dzcrash_signal_handler_callback;

// One entry of the chain: true when it handled the signal. `next` is null for the last entry. Runs in
// the signal handler: async-signal-safe by contract.
using dzcrash_signal_handler_callback_func = bool (*)(int signo, siginfo_t* info, ucontext_t* uap,
                                                      void* context, dzcrash_signal_handler_callback* next);

// Runs the chain from `next`; false for a null handle. async-signal-safe.
bool DZCrashSignalHandlerForward(dzcrash_signal_handler_callback* next, int signo, siginfo_t* info,
                                 ucontext_t* uap);

// The installed action (SA_SIGINFO | SA_ONSTACK, empty mask). async-signal-safe.
extern "C" void DZcrash_signal_handler(int signo, siginfo_t* info, void* uap);

// Whether the kernel raised the signal for a fault of the thread's own instruction (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE or SIGTRAP with a positive code). Only then is si_addr an address; such a signal
// cannot be ignored. async-signal-safe.
bool DZcrash_signal_is_fault(int signo, const siginfo_t* info);

class DZCrashSignalHandler {
 public:
  // The registry, made on first use; null when its alternate stack cannot be mapped.
  static DZCrashSignalHandler* sharedHandler();

  // Registers `signo` (below) and then puts {callback, context} at the head of the chain.
  std::optional<DZCrashReporterError> registerHandlerForSignal(int signo,
                                                               dzcrash_signal_handler_callback_func callback,
                                                               void* context);

  // Sets the alternate stack for the calling thread when it owns it, appends a previous-action entry to
  // the chain (on every call), and installs the handler for `signo` unless it is installed already,
  // recording the action it replaces. Errors (code operatingSystem, with errno): "Could not initialize
  // alternative signal stack", "Failed to register signal handler".
  std::optional<DZCrashReporterError> registerHandlerWithSignal(int signo);

  // Empties the chain and the record of previous actions. The installed handlers stay, and the previous
  // actions are not reinstalled: a signal then meets an empty chain and takes its default action.
  static void resetHandlers();

  // Bytes of the alternate stack (without its guard page).
  size_t alternateStackSize() const { return stackSize_; }

 private:
  DZCrashSignalHandler(void* stack, size_t stackSize) : stack_(stack), stackSize_(stackSize) {}
  std::optional<DZCrashReporterError> registerLocked(int signo);

  void* stack_;
  size_t stackSize_;
};

}  // namespace dzcrash
