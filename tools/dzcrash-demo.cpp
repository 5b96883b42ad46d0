// Crashes this process in a chosen way with the crash reporter enabled, and prints the report such a
// crash left behind.
//
//   dzcrash-demo crash <kind>   enables the reporter (identifier "dzcrash-demo", symbols from the
//                               dynamic symbol tables) and crashes; the process ends by the crash's signal
//   dzcrash-demo show           prints the pending report as text and removes it (exit status 1 when
//                               there is none or it cannot be read)
//   dzcrash-demo                lists the kinds
//
// The report is kept in the reporter's directory for "dzcrash-demo" under $XDG_CACHE_HOME (else
// ~/.cache). Once the report is written, the crash callback prints on standard output how many calls of
// malloc, free and their kin the process made since the crash began: the crash path makes none. The
// functions each kind crashes in are named dz_demo_* and exported, so that reports name them.

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "DZCrashReporter/DZCrashReporter.h"
#include "DZCrashReporter/capture/DZCrashSignalHandler.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "platform/ThreadCaptureSignal.h"
#include "tools/PrintCrashReport.h"

using namespace dzcrash;

namespace {

constexpr const char* kIdentifier = "dzcrash-demo";
// The address the faulting kinds write to: never mapped.
constexpr uintptr_t kFaultAddress = 0x10;

// ---- Allocation calls since the crash began. ----

std::atomic<bool> gCrashBegan{false};
std::atomic<uint64_t> gAllocationsSinceCrash{0};
// Cleared on a thread whose own allocations during the crash are the point of its kind.
thread_local bool tCounted = true;

[[maybe_unused]] void noteAllocation() {
  if (gCrashBegan.load(std::memory_order_relaxed) && tCounted) {
    gAllocationsSinceCrash.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

// The sanitizers bring allocators of their own, which these would bypass.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);

void* malloc(size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  noteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
  noteAllocation();
  return __libc_realloc(pointer, size);
}
void free(void* pointer) {
  if (pointer != nullptr) noteAllocation();
  __libc_free(pointer);
}
void* memalign(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  noteAllocation();
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}
void* valloc(size_t size) {
  noteAllocation();
  return __libc_valloc(size);
}
void* pvalloc(size_t size) {
  noteAllocation();
  return __libc_pvalloc(size);
}
}
#endif

namespace {

// Writes to `address` from the calling function's own frame.
__attribute__((always_inline)) inline void storeTo(uintptr_t address) {
#if defined(__x86_64__)
  __asm__ volatile("movl $1, (%0)" ::"r"(address) : "memory");
#else
  *reinterpret_cast<volatile int*>(address) = 1;
#endif
}

// Keeps the call before it out of tail position, so that its caller's frame stays on the stack.
__attribute__((always_inline)) inline void keepFrame() {
  __asm__ volatile("" ::: "memory");
}

void say(const char* text) {
  (void)!write(STDOUT_FILENO, text, std::strlen(text));
}

// A millisecond's sleep, for the kinds that wait for another thread to get into place.
void pauseBriefly() {
  timespec delay = {0, 1'000'000};
  nanosleep(&delay, nullptr);
}

pid_t currentTid() {
  return static_cast<pid_t>(syscall(SYS_gettid));
}

std::atomic<bool> gFaultInCallback{false};

// The crash callback: async-signal-safe.
void onCrash(siginfo_t*, ucontext_t*, void*) {
  char line[96];
  const char prefix[] = "dzcrash-demo: report written; allocations since the crash began: ";
  size_t length = 0;
  for (const char* c = prefix; *c != '\0'; ++c) line[length++] = *c;
  char digits[24];
  size_t count = 0;
  uint64_t value = gAllocationsSinceCrash.load();
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) line[length++] = digits[--count];
  line[length++] = '\n';
  (void)!write(STDOUT_FILENO, line, length);
  if (gFaultInCallback.load()) storeTo(kFaultAddress);
}

// Threads that have entered the crash, and how many the kind lets meet there before any goes on.
std::atomic<int> gThreadsInCrash{0};
int gMeetInCrash = 0;
thread_local bool tInCrash = false;

uint64_t monotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<uint64_t>(now.tv_nsec);
}

// First in the signal chain (once per signal it was registered for; the chain is the process's):
// marks the start of the crash, lets the kind's crashing threads meet, then hands the signal on.
// async-signal-safe.
bool noteCrash(int signo, siginfo_t* info, ucontext_t* uap, void*, dzcrash_signal_handler_callback* next) {
  gCrashBegan.store(true);
  if (!tInCrash) {
    tInCrash = true;
    gThreadsInCrash.fetch_add(1);
    // So that every crashing thread has faulted before the report records the threads: otherwise one
    // might still run towards its fault while the other's report is written.
    const uint64_t deadline = monotonicNs() + 2'000'000'000;
    while (gThreadsInCrash.load() < gMeetInCrash && monotonicNs() < deadline) {
    }
  }
  return DZCrashSignalHandlerForward(next, signo, info, uap);
}

DZCrashReporter* gReporter = nullptr;

}  // namespace

// ---- The kinds. Each crashes in its own dz_demo_* function. ----

extern "C" {

__attribute__((noinline)) void dz_demo_segv() {
  storeTo(kFaultAddress);
}

__attribute__((noinline)) void dz_demo_bus() {
  const long page = sysconf(_SC_PAGESIZE);
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/dzcrash-demo-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0 || ftruncate(fd, page) != 0) return;
  void* mapped = mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ, MAP_SHARED, fd, 0);
  unlink(path.c_str());
  if (mapped == MAP_FAILED) return;
  // The second page lies past the end of the file.
  (void)*(static_cast<volatile const char*>(mapped) + page);
}

__attribute__((noinline)) void dz_demo_fpe() {
#if defined(__x86_64__)
  int zero = 0;
  int quotient = 7;
  __asm__ volatile("cltd\n\tidivl %1" : "+a"(quotient) : "r"(zero) : "edx");
#else
  raise(SIGFPE);
#endif
}

__attribute__((noinline)) void dz_demo_ill() {
#if defined(__x86_64__)
  __asm__ volatile("ud2");
#else
  raise(SIGILL);
#endif
}

__attribute__((noinline)) void dz_demo_trap() {
#if defined(__x86_64__)
  __asm__ volatile("int3");
#else
  raise(SIGTRAP);
#endif
  keepFrame();
}

__attribute__((noinline)) void dz_demo_abort() {
  std::abort();
}

__attribute__((noinline)) void dz_demo_exception() {
  throw std::runtime_error("boom");
}

__attribute__((noinline)) int dz_demo_overflow_b(int depth);

__attribute__((noinline)) int dz_demo_overflow_a(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  return dz_demo_overflow_b(depth + 1) + pad[0];
}

__attribute__((noinline)) int dz_demo_overflow_b(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  return dz_demo_overflow_a(depth + 1) + pad[0];
}

__attribute__((noinline)) void dz_demo_overflow() {
  // An unlimited stack would grow until it met the heap; the kernel checks the limit as it grows.
  rlimit limit;
  if (getrlimit(RLIMIT_STACK, &limit) == 0 &&
      (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (8u << 20))) {
    limit.rlim_cur = 8u << 20;
    setrlimit(RLIMIT_STACK, &limit);
  }
  dz_demo_overflow_a(0);
  keepFrame();
}

}  // extern "C"

namespace {

// Set by the main thread just before it joins, so that a thread can tell the join's wait from an
// earlier one.
std::atomic<bool> gMainJoining{false};

// Whether `tid` is blocked in system call `number` with `firstArgument` (any when negative), as /proc
// shows it. Allocates nothing: the thread it waits for may hold malloc's lock.
bool blockedIn(pid_t tid, long number, long firstArgument = -1) {
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/self/task/%d/syscall", static_cast<int>(tid));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[64] = {};
  const ssize_t n = read(fd, text, sizeof(text) - 1);
  close(fd);
  if (n <= 0) return false;
  char expected[32];
  if (firstArgument < 0) {
    std::snprintf(expected, sizeof(expected), "%ld ", number);
  } else {
    std::snprintf(expected, sizeof(expected), "%ld 0x%lx ", number, firstArgument);
  }
  return std::strncmp(text, expected, std::strlen(expected)) == 0;
}

}  // namespace

extern "C" {

__attribute__((noinline)) void dz_demo_wait_for_thread(pthread_t thread) {
  gMainJoining.store(true);
  pthread_join(thread, nullptr);
  keepFrame();
}

__attribute__((noinline)) void dz_demo_thread_fault() {
  storeTo(kFaultAddress);
}

__attribute__((noinline)) void* dz_demo_thread_body(void*) {
  // The report must find the main thread in its wait, not still starting this thread.
  for (int i = 0; i < 10'000 && !(gMainJoining.load() && blockedIn(getpid(), SYS_futex)); ++i) pauseBriefly();
  dz_demo_thread_fault();
  keepFrame();
  return nullptr;
}

__attribute__((noinline)) void dz_demo_thread() {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, dz_demo_thread_body, nullptr) != 0) return;
  dz_demo_wait_for_thread(thread);
}

}  // extern "C"

namespace {
std::atomic<pid_t> gMallocStatsTid{0};
}  // namespace

extern "C" {

__attribute__((noinline)) void* dz_demo_hold_malloc_lock(void*) {
  gMallocStatsTid.store(currentTid());
  // Writes to standard error while it holds the main arena's lock: on a full pipe it blocks there.
  malloc_stats();
  keepFrame();
  return nullptr;
}

}  // extern "C"

namespace {

// Makes standard error a pipe that nobody reads and that is already full.
bool fillStderr() {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  char block[4096] = {};
  while (write(fds[1], block, sizeof(block)) > 0) {
  }
  while (write(fds[1], block, 1) > 0) {
  }
  fcntl(fds[1], F_SETFL, 0);
  // The read end stays open: a closed one would turn the write into EPIPE instead of a wait.
  return dup2(fds[1], STDERR_FILENO) == STDERR_FILENO;
}

}  // namespace

extern "C" {

__attribute__((noinline)) void dz_demo_malloc_lock() {
  if (!fillStderr()) return;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, dz_demo_hold_malloc_lock, nullptr) != 0) return;
  for (int i = 0; i < 10'000; ++i) {
    const pid_t tid = gMallocStatsTid.load();
    if (tid != 0 && blockedIn(tid, SYS_write, STDERR_FILENO)) {
      storeTo(kFaultAddress);
      return;
    }
    pauseBriefly();
  }
  say("dzcrash-demo: the malloc_stats() thread never blocked\n");
}

__attribute__((noinline)) void dz_demo_racing_fault(uintptr_t address) {
  storeTo(address);
}

}  // extern "C"

namespace {
std::atomic<int> gRacers{0};
}  // namespace

extern "C" {

__attribute__((noinline)) void* dz_demo_racing_thread(void* address) {
  gRacers.fetch_add(1);
  while (gRacers.load() < 2) {
  }
  dz_demo_racing_fault(reinterpret_cast<uintptr_t>(address));
  keepFrame();
  return nullptr;
}

__attribute__((noinline)) void dz_demo_two_threads() {
  gMeetInCrash = 2;
  pthread_t first;
  pthread_t second;
  if (pthread_create(&first, nullptr, dz_demo_racing_thread, reinterpret_cast<void*>(kFaultAddress)) != 0 ||
      pthread_create(&second, nullptr, dz_demo_racing_thread, reinterpret_cast<void*>(2 * kFaultAddress)) !=
          0) {
    return;
  }
  dz_demo_wait_for_thread(first);
  dz_demo_wait_for_thread(second);
}

__attribute__((noinline)) void dz_demo_callback_fault() {
  gFaultInCallback.store(true);
  std::abort();
}

}  // extern "C"

namespace {

std::atomic<uint64_t> gReplacements{0};

// Value number `i`: a length and a byte that go together, so that a report shows whether it holds one
// whole value.
std::vector<uint8_t> customValue(uint64_t i) {
  const auto letter = static_cast<uint8_t>('a' + i % 26);
  return std::vector<uint8_t>(1000 + 997 * (i % 26), letter);
}

}  // namespace

extern "C" {

__attribute__((noinline)) void* dz_demo_replace_custom_data(void*) {
  tCounted = false;
  // Out of the report's thread capture, this thread goes on replacing the value while the report is
  // written: a value freed under the write shows, instead of waiting parked until the write is done.
  sigset_t capture;
  sigemptyset(&capture);
  sigaddset(&capture, platform::threadCaptureSignal());
  pthread_sigmask(SIG_BLOCK, &capture, nullptr);
  for (uint64_t i = 0;; ++i) {
    gReporter->setCustomData(customValue(i));
    gReplacements.store(i + 1);
  }
  return nullptr;
}

__attribute__((noinline)) void dz_demo_custom_data() {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, dz_demo_replace_custom_data, nullptr) != 0) return;
  while (gReplacements.load() < 1000) {
  }
  storeTo(kFaultAddress);
}

__attribute__((noinline)) void dz_demo_crash(void (*kind)()) {
  kind();
  keepFrame();
}

}  // extern "C"

namespace {

struct Kind {
  const char* name;
  void (*run)();
  const char* what;
};

constexpr Kind kKinds[] = {
    {"segv", dz_demo_segv, "SIGSEGV: a write to address 0x10"},
    {"bus", dz_demo_bus, "SIGBUS: a read past the end of a mapped file"},
    {"fpe", dz_demo_fpe, "SIGFPE: an integer division by zero"},
    {"ill", dz_demo_ill, "SIGILL: an undefined instruction"},
    {"trap", dz_demo_trap, "SIGTRAP: a breakpoint instruction"},
    {"abort", dz_demo_abort, "SIGABRT: abort()"},
    {"exception", dz_demo_exception, "SIGABRT: an uncaught std::runtime_error(\"boom\")"},
    {"overflow", dz_demo_overflow, "SIGSEGV: the main thread's stack overflows"},
    {"thread", dz_demo_thread, "SIGSEGV on a second thread while the main thread waits for it"},
    {"malloc-lock", dz_demo_malloc_lock, "SIGSEGV while another thread holds malloc's lock"},
    {"two-threads", dz_demo_two_threads, "SIGSEGV on two threads at once"},
    {"callback-fault", dz_demo_callback_fault, "SIGABRT, then a SIGSEGV inside the crash callback"},
    {"custom-data", dz_demo_custom_data, "SIGSEGV while another thread replaces the custom data"},
};

int usage() {
  std::fprintf(stderr, "usage: dzcrash-demo crash <kind> | dzcrash-demo show\nkinds:\n");
  for (const Kind& kind : kKinds) std::fprintf(stderr, "  %-15s %s\n", kind.name, kind.what);
  return 2;
}

std::unique_ptr<DZCrashReporter> makeReporter() {
  DZCrashReporterConfig config;
  config.symbolicationStrategy = DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE;
  return std::make_unique<DZCrashReporter>(kIdentifier, "1", std::nullopt, config);
}

int crash(const Kind& kind) {
  auto reporter = makeReporter();
  gReporter = reporter.get();
  if (auto error = reporter->setCrashCallbacks({nullptr, onCrash})) {
    std::fprintf(stderr, "dzcrash-demo: %s\n", error->description().c_str());
    return 1;
  }
  if (auto error = reporter->enableCrashReporter()) {
    std::fprintf(stderr, "dzcrash-demo: %s\n", error->description().c_str());
    return 1;
  }
  DZCrashSignalHandler* handler = DZCrashSignalHandler::sharedHandler();
  for (const int signo : monitored_signals) {
    if (auto error = handler->registerHandlerForSignal(signo, noteCrash, nullptr)) {
      std::fprintf(stderr, "dzcrash-demo: %s\n", error->description().c_str());
      return 1;
    }
  }
  std::printf("dzcrash-demo: crashing (%s); the report goes to %s\n", kind.what,
              reporter->crashReportPath().c_str());
  std::fflush(stdout);
  dz_demo_crash(kind.run);
  say("dzcrash-demo: the process did not crash\n");
  return 1;
}

int show() {
  auto reporter = makeReporter();
  if (!reporter->hasPendingCrashReport()) {
    std::fprintf(stderr, "dzcrash-demo: no pending crash report at %s\n",
                 reporter->crashReportPath().c_str());
    return 1;
  }
  const auto data = reporter->loadPendingCrashReportData();
  if (!data.ok()) {
    std::fprintf(stderr, "dzcrash-demo: %s\n", data.error().description().c_str());
    return 1;
  }
  // A report that cannot be read now never will be: it goes either way.
  if (auto error = reporter->purgePendingCrashReport()) {
    std::fprintf(stderr, "dzcrash-demo: %s\n", error->description().c_str());
  }
  return tools::printReportData("dzcrash-demo", data.value());
}

}  // namespace

int main(int argc, char** argv) {
  tools::logToStandardError();
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "show" && argc == 2) return show();
  if (command == "crash" && argc == 3) {
    for (const Kind& kind : kKinds) {
      if (std::string_view(argv[2]) == kind.name) return crash(kind);
    }
  }
  return usage();
}
