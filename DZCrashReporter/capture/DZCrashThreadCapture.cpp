#include "DZCrashReporter/capture/DZCrashThreadCapture.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <mutex>
#include <new>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "platform/ThreadCaptureSignal.h"

namespace dzcrash {

namespace {

constexpr uint32_t kStateBits = 3;
constexpr uint32_t kStateMask = (1u << kStateBits) - 1;
constexpr uint32_t kGenerationMask = UINT32_MAX >> kStateBits;
// A handler caught copying its context when the wait ends gets this much longer to finish.
constexpr uint64_t kCopyGraceNs = 20'000'000;

std::atomic<dzcrash_thread_capture*> gCapture{nullptr};

uint32_t encode(uint32_t generation, dzcrash_thread_capture_state state) {
  return (generation & kGenerationMask) << kStateBits | state;
}

// Whether the capture of `generation` has let its threads go. A thread slow to wake may find later
// captures already over, so the test is "at or past", not "equal".
bool releasedFor(uint32_t released, uint32_t generation) {
  return static_cast<int32_t>(released - generation) >= 0;
}

dzcrash_thread_capture_state stateOf(uint32_t status) {
  return static_cast<dzcrash_thread_capture_state>(status & kStateMask);
}

uint32_t* futexWord(std::atomic<uint32_t>* word) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
  return reinterpret_cast<uint32_t*>(word);
}

// Waits while *word == expected, at most timeout_ns (forever when 0). async-signal-safe.
void futexWait(std::atomic<uint32_t>* word, uint32_t expected, uint64_t timeout_ns) {
  timespec timeout = {static_cast<time_t>(timeout_ns / 1'000'000'000),
                      static_cast<long>(timeout_ns % 1'000'000'000)};
  syscall(SYS_futex, futexWord(word), FUTEX_WAIT_PRIVATE, expected, timeout_ns != 0 ? &timeout : nullptr,
          nullptr, 0);
}

void futexWake(std::atomic<uint32_t>* word, int count) {
  syscall(SYS_futex, futexWord(word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

uint64_t monotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<uint64_t>(now.tv_nsec);
}

// Runs on each signalled thread. async-signal-safe.
void captureHandler(int, siginfo_t* info, void* ucontext) {
  const int savedErrno = errno;
  dzcrash_thread_capture* capture = gCapture.load(std::memory_order_acquire);
  // Only the capture's own signals: another process could send this signal number too.
  if (capture != nullptr && info != nullptr && info->si_code == SI_QUEUE && info->si_pid == getpid()) {
    const auto value = reinterpret_cast<uintptr_t>(info->si_value.sival_ptr);
    const auto generation = static_cast<uint32_t>(value >> 32);
    const auto index = static_cast<uint32_t>(value);
    if (index < DZCRASH_THREAD_CAPTURE_MAX_THREADS) {
      dzcrash_thread_capture_slot& slot = capture->slots[index];
      uint32_t expected = encode(generation, DZCRASH_THREAD_CAPTURE_WAITING);
      if (slot.status.compare_exchange_strong(expected, encode(generation, DZCRASH_THREAD_CAPTURE_WRITING))) {
        DZcrash_async_memcpy(&slot.context, &static_cast<const ucontext_t*>(ucontext)->uc_mcontext,
                             sizeof(slot.context));
        expected = encode(generation, DZCRASH_THREAD_CAPTURE_WRITING);
        // Fails when the capture gave up on this thread meanwhile: then nobody waits for it.
        if (slot.status.compare_exchange_strong(expected,
                                                encode(generation, DZCRASH_THREAD_CAPTURE_PARKED))) {
          capture->answered.fetch_add(1);
          futexWake(&capture->answered, 1);
          for (;;) {
            const uint32_t released = capture->released.load();
            if (releasedFor(released, generation)) break;
            futexWait(&capture->released, released, 0);
          }
        }
      }
    }
  }
  errno = savedErrno;
}

// Fills capture->slots with the tids of /proc/self/task, in its order. The caller and `keep` (0: none)
// are always listed, whatever their place: slots for them are held back while the others fill the rest.
// async-signal-safe.
void listThreads(dzcrash_thread_capture* capture, pid_t self, pid_t keep) {
  capture->count = 0;
  capture->truncated = false;
  if (keep == self) keep = 0;
  bool selfListed = false;
  bool keepListed = keep == 0;
  const auto add = [&](pid_t tid) {
    const size_t heldBack = (selfListed ? 0 : 1) + (keepListed ? 0 : 1);
    const bool reserved = (tid == self && !selfListed) || (tid == keep && !keepListed);
    if (!reserved && capture->count + heldBack >= DZCRASH_THREAD_CAPTURE_MAX_THREADS) {
      capture->truncated = true;
      return;
    }
    if (tid == self) selfListed = true;
    if (tid == keep) keepListed = true;
    capture->slots[capture->count++].tid = tid;
  };
  const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    for (;;) {
      const long read = syscall(SYS_getdents64, fd, capture->listing, sizeof(capture->listing));
      if (read <= 0) break;
      for (long offset = 0; offset < read;) {
        // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
        uint16_t recordLength = 0;
        DZcrash_async_memcpy(&recordLength, capture->listing + offset + 16, sizeof(recordLength));
        const char* name = capture->listing + offset + 19;
        offset += recordLength;
        if (recordLength == 0) break;
        pid_t tid = 0;
        bool digits = name[0] != '\0';
        for (const char* c = name; *c != '\0' && digits; ++c) {
          digits = *c >= '0' && *c <= '9';
          tid = tid * 10 + (*c - '0');
        }
        if (digits) add(tid);
      }
    }
    close(fd);
  }
  // Without /proc (or when the listing missed them) they are known all the same.
  if (!selfListed) add(self);
  if (!keepListed) add(keep);
}

bool sendCaptureSignal(pid_t pid, pid_t tid, uint32_t generation, size_t index) {
  siginfo_t info;
  DZcrash_async_memset(&info, 0, sizeof(info));
  info.si_signo = platform::threadCaptureSignal();
  info.si_code = SI_QUEUE;
  info.si_pid = pid;
  info.si_uid = getuid();
  info.si_value.sival_ptr = reinterpret_cast<void*>(static_cast<uintptr_t>(generation) << 32 | index);
  return syscall(SYS_rt_tgsigqueueinfo, pid, tid, info.si_signo, &info) == 0;
}

size_t countIn(const dzcrash_thread_capture* capture, uint32_t generation,
               dzcrash_thread_capture_state state) {
  size_t n = 0;
  for (size_t i = 0; i < capture->count; ++i) {
    if (capture->slots[i].status.load() == encode(generation, state)) ++n;
  }
  return n;
}

// Moves the threads still waiting, or still copying, to ABANDONED. async-signal-safe.
void abandonLate(dzcrash_thread_capture* capture) {
  for (size_t i = 0; i < capture->count; ++i) {
    for (const auto state : {DZCRASH_THREAD_CAPTURE_WAITING, DZCRASH_THREAD_CAPTURE_WRITING}) {
      uint32_t expected = encode(capture->generation, state);
      capture->slots[i].status.compare_exchange_strong(
          expected, encode(capture->generation, DZCRASH_THREAD_CAPTURE_ABANDONED));
    }
  }
}

}  // namespace

bool DZcrash_nasync_thread_capture_install() {
  static std::mutex lock;
  static bool installed = false;
  static int installErrno = 0;
  std::lock_guard<std::mutex> guard(lock);
  if (installed || installErrno != 0) {
    errno = installErrno;
    return installed;
  }
  void* area = mmap(nullptr, sizeof(dzcrash_thread_capture), PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) {
    installErrno = errno;
    return false;
  }
  // A fresh anonymous mapping is zero-filled: every atomic starts at 0, as constructed.
  auto* capture = new (area) dzcrash_thread_capture;
  capture->busy.store(false);
  capture->generation = 0;
  capture->answered.store(0);
  capture->released.store(0);
  gCapture.store(capture, std::memory_order_release);

  struct sigaction action = {};
  action.sa_sigaction = captureHandler;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume once the thread is let go.
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
  if (sigaction(platform::threadCaptureSignal(), &action, nullptr) != 0) {
    installErrno = errno;
    gCapture.store(nullptr);
    munmap(area, sizeof(dzcrash_thread_capture));
    return false;
  }
  installed = true;
  return true;
}

dzcrash_thread_capture* DZcrash_async_thread_capture_begin(uint64_t timeout_ns, pid_t keep) {
  dzcrash_thread_capture* capture = gCapture.load(std::memory_order_acquire);
  if (capture == nullptr) return nullptr;
  bool idle = false;
  if (!capture->busy.compare_exchange_strong(idle, true)) return nullptr;

  const uint32_t generation = capture->generation + 1;
  capture->generation = generation;
  capture->answered.store(0);

  const pid_t pid = getpid();
  const pid_t self = DZ_mach_thread_self();
  listThreads(capture, self, keep);
  uint32_t sent = 0;
  for (size_t i = 0; i < capture->count; ++i) {
    dzcrash_thread_capture_slot& slot = capture->slots[i];
    if (slot.tid == self) {
      slot.status.store(encode(generation, DZCRASH_THREAD_CAPTURE_CALLER));
      continue;
    }
    // The slot is armed before the signal leaves, so the handler always finds it waiting.
    slot.status.store(encode(generation, DZCRASH_THREAD_CAPTURE_WAITING));
    if (sendCaptureSignal(pid, slot.tid, generation, i)) {
      ++sent;
    } else {
      slot.status.store(encode(generation, DZCRASH_THREAD_CAPTURE_NOT_SIGNALLED));
    }
  }

  const uint64_t deadline = monotonicNs() + timeout_ns;
  for (;;) {
    const uint32_t seen = capture->answered.load();
    const uint64_t now = monotonicNs();
    if (seen >= sent || now >= deadline) break;
    futexWait(&capture->answered, seen, deadline - now);
  }
  const uint64_t graceDeadline = monotonicNs() + kCopyGraceNs;
  for (;;) {
    const uint32_t seen = capture->answered.load();
    const uint64_t now = monotonicNs();
    if (countIn(capture, generation, DZCRASH_THREAD_CAPTURE_WRITING) == 0 || now >= graceDeadline) break;
    futexWait(&capture->answered, seen, graceDeadline - now);
  }
  abandonLate(capture);
  return capture;
}

dzcrash_thread_capture_state DZcrash_async_thread_capture_state(const dzcrash_thread_capture* capture,
                                                                size_t index) {
  return stateOf(capture->slots[index].status.load());
}

const mcontext_t* DZcrash_async_thread_capture_context(pid_t tid) {
  dzcrash_thread_capture* capture = gCapture.load(std::memory_order_acquire);
  if (capture == nullptr || !capture->busy.load()) return nullptr;
  const uint32_t parked = encode(capture->generation, DZCRASH_THREAD_CAPTURE_PARKED);
  for (size_t i = 0; i < capture->count; ++i) {
    if (capture->slots[i].tid == tid && capture->slots[i].status.load() == parked)
      return &capture->slots[i].context;
  }
  return nullptr;
}

void DZcrash_async_thread_capture_end(dzcrash_thread_capture* capture) {
  abandonLate(capture);
  capture->released.store(capture->generation);
  futexWake(&capture->released, INT_MAX);
  capture->busy.store(false);
}

}  // namespace dzcrash
