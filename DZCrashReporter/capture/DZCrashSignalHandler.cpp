#include "DZCrashReporter/capture/DZCrashSignalHandler.h"

#include <sys/auxv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncLinkedList.h"

namespace dzcrash {

namespace {

// Room for the handler and the report writer beyond the kernel's own signal frame.
constexpr size_t kHandlerStackBytes = 64 * 1024;

struct dzcrash_signal_user_callback {
  dzcrash_signal_handler_callback_func callback;
  void* context;
};

struct dzcrash_signal_handler_action {
  int signo;
  struct sigaction action;
};

using CallbackList = async::async_list<dzcrash_signal_user_callback>;
using ActionList = async::async_list<dzcrash_signal_handler_action>;

struct Registry {
  CallbackList callbacks;
  ActionList previous;
};

// Made on first registration and never destroyed: a signal may arrive while the process exits.
std::atomic<Registry*> gRegistry{nullptr};
// The thread whose alternate stack the registry's stack is; 0 until the first registration.
pid_t gStackOwner = 0;

std::mutex& registerHandlersMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

Registry& registry() {
  Registry* r = gRegistry.load(std::memory_order_acquire);
  if (r == nullptr) {
    r = new Registry;
    gRegistry.store(r, std::memory_order_release);
  }
  return *r;
}

size_t alignToPage(size_t size, size_t page) {
  return (size + page - 1) / page * page;
}

// Restores the default action of `signo`. async-signal-safe.
void restoreDefault(int signo) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, nullptr);
}

bool previous_action_callback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                              dzcrash_signal_handler_callback* next);

}  // namespace

struct dzcrash_signal_handler_callback {
  CallbackList* list;
  CallbackList::node* node;
};

namespace {

// Calls the entry at `node` with a handle of its successor. async-signal-safe.
bool runEntry(CallbackList* list, CallbackList::node* node, int signo, siginfo_t* info, ucontext_t* uap) {
  dzcrash_signal_handler_callback next = {list, list->next(node)};
  const dzcrash_signal_user_callback entry = node->value();
  return entry.callback(signo, info, uap, entry.context, next.node != nullptr ? &next : nullptr);
}

// async-signal-safe.
bool previous_action_callback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                              dzcrash_signal_handler_callback* next) {
  if (DZCrashSignalHandlerForward(next, signo, info, uap)) return true;

  Registry* r = gRegistry.load(std::memory_order_acquire);
  if (r == nullptr) return false;
  bool found = false;
  struct sigaction previous = {};
  r->previous.set_reading(true);
  for (ActionList::node* node = r->previous.next(nullptr); node != nullptr; node = r->previous.next(node)) {
    const dzcrash_signal_handler_action entry = node->value();
    if (entry.signo == signo) {
      previous = entry.action;
      found = true;
      break;
    }
  }
  r->previous.set_reading(false);
  if (!found) return false;

  // SIG_DFL and SIG_IGN share the handler's storage with sa_sigaction: test them whatever the flags say.
  if (previous.sa_handler == SIG_DFL) return false;
  if (previous.sa_handler == SIG_IGN) {
    // The kernel never lets a thread ignore its own fault: returning would run the faulting instruction
    // again, forever. Such a signal takes its default action, as it would have without us.
    return !DZcrash_signal_is_fault(signo, info);
  }
  if ((previous.sa_flags & SA_SIGINFO) != 0) {
    previous.sa_sigaction(signo, info, uap);
    return true;
  }
  previous.sa_handler(signo);
  return true;
}

}  // namespace

bool DZcrash_signal_is_fault(int signo, const siginfo_t* info) {
  if (info == nullptr || info->si_code <= 0) return false;
  return signo == SIGSEGV || signo == SIGBUS || signo == SIGILL || signo == SIGFPE || signo == SIGTRAP;
}

bool DZCrashSignalHandlerForward(dzcrash_signal_handler_callback* next, int signo, siginfo_t* info,
                                 ucontext_t* uap) {
  if (next == nullptr || next->node == nullptr) return false;
  return runEntry(next->list, next->node, signo, info, uap);
}

extern "C" void DZcrash_signal_handler(int signo, siginfo_t* info, void* uap) {
  const int savedErrno = errno;
  bool handled = false;
  if (Registry* r = gRegistry.load(std::memory_order_acquire)) {
    r->callbacks.set_reading(true);
    if (CallbackList::node* first = r->callbacks.next(nullptr)) {
      handled = runEntry(&r->callbacks, first, signo, info, static_cast<ucontext_t*>(uap));
    }
    r->callbacks.set_reading(false);
  }
  if (!handled) {
    // Raised again with our handler in place, the signal would only come back here.
    restoreDefault(signo);
    raise(signo);
  }
  errno = savedErrno;
}

DZCrashSignalHandler* DZCrashSignalHandler::sharedHandler() {
  static DZCrashSignalHandler* const shared = []() -> DZCrashSignalHandler* {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    // MINSIGSTKSZ is the C library's own floor (a sysconf call with _GNU_SOURCE).
    const auto floor = static_cast<size_t>(MINSIGSTKSZ);
    size_t minimum = static_cast<size_t>(getauxval(AT_MINSIGSTKSZ));
    if (minimum < floor) minimum = floor;
    const size_t size = alignToPage(kHandlerStackBytes + minimum, page);
    void* area =
        mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    // The guard page turns an overflow of the handler's stack into a fault instead of a write into
    // whatever lies below.
    mprotect(area, page, PROT_NONE);
    return new DZCrashSignalHandler(static_cast<char*>(area) + page, size);
  }();
  return shared;
}

std::optional<DZCrashReporterError> DZCrashSignalHandler::registerLocked(int signo) {
  const pid_t self = DZ_mach_thread_self();
  if (gStackOwner == 0 || gStackOwner == self) {
    stack_t stack = {};
    stack.ss_sp = stack_;
    stack.ss_size = stackSize_;
    stack.ss_flags = 0;
    if (sigaltstack(&stack, nullptr) != 0) {
      return DZCrashReporterError(DZCrashReporterErrorCode::operatingSystem,
                                  "Could not initialize alternative signal stack", errno);
    }
    gStackOwner = self;
  }

  Registry& r = registry();
  if (!r.callbacks.nasync_append({previous_action_callback, nullptr})) {
    return DZCrashReporterError(DZCrashReporterErrorCode::operatingSystem,
                                "Failed to register signal handler", ENOMEM);
  }

  bool installed = false;
  r.previous.set_reading(true);
  for (ActionList::node* node = r.previous.next(nullptr); node != nullptr && !installed;
       node = r.previous.next(node)) {
    installed = node->value().signo == signo;
  }
  r.previous.set_reading(false);
  if (installed) return std::nullopt;

  struct sigaction action = {};
  action.sa_sigaction = DZcrash_signal_handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  dzcrash_signal_handler_action previous = {signo, {}};
  if (sigaction(signo, &action, &previous.action) != 0) {
    return DZCrashReporterError(DZCrashReporterErrorCode::operatingSystem,
                                "Failed to register signal handler", errno);
  }
  if (!r.previous.nasync_append(previous)) {
    // Without the record the handler must not stay: the previous action would be lost.
    sigaction(signo, &previous.action, nullptr);
    return DZCrashReporterError(DZCrashReporterErrorCode::operatingSystem,
                                "Failed to register signal handler", ENOMEM);
  }
  return std::nullopt;
}

std::optional<DZCrashReporterError> DZCrashSignalHandler::registerHandlerWithSignal(int signo) {
  std::lock_guard guard(registerHandlersMutex());
  return registerLocked(signo);
}

std::optional<DZCrashReporterError> DZCrashSignalHandler::registerHandlerForSignal(
    int signo, dzcrash_signal_handler_callback_func callback, void* context) {
  std::lock_guard guard(registerHandlersMutex());
  if (auto error = registerLocked(signo)) return error;
  if (!registry().callbacks.nasync_prepend({callback, context})) {
    return DZCrashReporterError(DZCrashReporterErrorCode::operatingSystem,
                                "Failed to register signal handler", ENOMEM);
  }
  return std::nullopt;
}

void DZCrashSignalHandler::resetHandlers() {
  std::lock_guard guard(registerHandlersMutex());
  Registry& r = registry();
  auto empty = [](auto& list) {
    for (;;) {
      list.set_reading(true);
      auto* node = list.next(nullptr);
      list.set_reading(false);
      if (node == nullptr) break;
      list.nasync_remove_node(node);
    }
  };
  empty(r.callbacks);
  empty(r.previous);
}

}  // namespace dzcrash
