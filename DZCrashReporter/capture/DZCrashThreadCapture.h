#pragma once

// Holds every other thread of the process still while a report is written, and keeps the registers
// each one had when it stopped: the crash path's way of reading other threads, since a thread cannot
// be suspended from outside here.
//
// The threads are listed from /proc/self/task. Each one but the caller is sent the capture signal
// (platform/ThreadCaptureSignal.h) carrying its slot; its handler copies the interrupted machine
// context into the slot (mapped memory, never the heap) and parks on a futex until the capture ends.
// The caller waits for the answers for a bounded time only: a thread that blocks the signal, or does
// not run in time, is listed without registers and runs on. A signal that arrives after its capture
// gave up on it returns at once.
//
// One capture runs at a time in the process. Everything here is async-signal-safe except
// DZcrash_nasync_thread_capture_install.

#include <sys/types.h>
#include <sys/ucontext.h>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace dzcrash {

// Threads listed beyond this many are neither parked nor reported; the caller and the thread a capture
// is asked to keep are always among those listed.
constexpr size_t DZCRASH_THREAD_CAPTURE_MAX_THREADS = 1024;
// How long a capture waits for all threads together to answer. On a busy machine a parked thread may wait
// a good while for its turn on a core; only a thread that never answers (one that blocks the signal) costs
// the whole of it, once per capture.
constexpr uint64_t DZCRASH_THREAD_CAPTURE_TIMEOUT_NS = 1'000'000'000;

// What became of one listed thread.
enum dzcrash_thread_capture_state : uint32_t {
  // Signalled; no answer yet.
  DZCRASH_THREAD_CAPTURE_WAITING = 0,
  // Its handler is copying its context.
  DZCRASH_THREAD_CAPTURE_WRITING = 1,
  // Stopped in its handler; the context is valid until the capture ends.
  DZCRASH_THREAD_CAPTURE_PARKED = 2,
  // Did not answer in time.
  DZCRASH_THREAD_CAPTURE_ABANDONED = 3,
  // The signal could not be sent (the thread had ended).
  DZCRASH_THREAD_CAPTURE_NOT_SIGNALLED = 4,
  // The capturing thread itself.
  DZCRASH_THREAD_CAPTURE_CALLER = 5,
};

struct dzcrash_thread_capture_slot {
  pid_t tid;
  // The generation's low 29 bits << 3 | dzcrash_thread_capture_state.
  std::atomic<uint32_t> status;
  mcontext_t context;
};

// The process's one capture area, mapped once by the install.
struct dzcrash_thread_capture {
  // Set while a capture runs.
  std::atomic<bool> busy;
  // Counts the captures; the running (or last) one's number.
  uint32_t generation;
  // Futex words: answers of the running capture, and the last generation whose threads may go.
  std::atomic<uint32_t> answered;
  std::atomic<uint32_t> released;
  // Threads listed, the caller among them, in /proc/self/task order.
  size_t count;
  // More threads than slots were listed.
  bool truncated;
  dzcrash_thread_capture_slot slots[DZCRASH_THREAD_CAPTURE_MAX_THREADS];
  // getdents64 reads into this.
  alignas(8) char listing[4096];
};

// Installs the capture signal's handler and maps the capture area, once per process (later calls
// return the first result). The handler stays installed for the process's life: a late signal must
// never meet the default action, which ends the process. False, with errno set, when either fails.
// Not async-signal-safe; any thread.
bool DZcrash_nasync_thread_capture_install();

// Lists the threads, parks every one but the caller and waits up to `timeout_ns` for them. The caller
// and `keep` (a thread of this process, 0 for none) are listed even past the cap, in their places of
// the task list; the cap leaves out others instead. Null when the capture is not installed or another
// capture is running. Every capture that began must end. async-signal-safe.
dzcrash_thread_capture* DZcrash_async_thread_capture_begin(uint64_t timeout_ns, pid_t keep = 0);

// The state of the listed thread at `index` (below count). async-signal-safe.
dzcrash_thread_capture_state DZcrash_async_thread_capture_state(const dzcrash_thread_capture* capture,
                                                                size_t index);

// The machine context `tid` was parked with by the running capture; null when it is not parked (the
// caller, a thread that did not answer, no capture running). Valid until the capture ends.
// async-signal-safe.
const mcontext_t* DZcrash_async_thread_capture_context(pid_t tid);

// Lets the parked threads go and ends the capture. async-signal-safe.
void DZcrash_async_thread_capture_end(dzcrash_thread_capture* capture);

}  // namespace dzcrash
