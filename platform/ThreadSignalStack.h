#pragma once

// An alternate signal stack for a thread the project starts (the worker and serial-queue threads, the
// HTTP client's thread), set up once the crash reporter asks for one: the signal of a stack overflow
// can be handled only on a stack of its own, so without it an overflow on that thread ends the process
// with no report. Header-only, like ThreadCaptureSignal.h, so that the crash reporter can ask without
// linking the platform layer.

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>

namespace platform {

// The size of the stack the project's threads set up; 0 while none is wanted.
inline std::atomic<size_t> gThreadSignalStackSize{0};

// Asks every thread the project starts for an alternate signal stack of `bytes` (the crash reporter
// does, once enabled). Threads already running set theirs up before their next job. Any thread.
inline void requestThreadSignalStacks(size_t bytes) {
  gThreadSignalStackSize.store(bytes);
}

// One thread's alternate signal stack, made and used on that thread only. ensure() sets it up once one
// is wanted (replacing a stack another library set up, which may be too small for the crash handler);
// the destructor puts back what it replaced and unmaps its own.
class ThreadSignalStack {
 public:
  ThreadSignalStack() = default;
  ~ThreadSignalStack() {
    if (mapping_ == nullptr) return;
    stack_t current = {};
    sigaltstack(nullptr, &current);
    // Only while it is still ours (a handler could be running on it only while this thread is inside
    // one, which a destructor never is).
    if (current.ss_sp == stackStart()) sigaltstack(hadPrevious_ ? &previous_ : &kDisable, nullptr);
    munmap(mapping_, mappingSize_);
  }
  ThreadSignalStack(const ThreadSignalStack&) = delete;
  ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

  // Cheap when nothing is to be done: one atomic load.
  void ensure() {
    if (mapping_ != nullptr || failed_) return;
    const size_t bytes = gThreadSignalStackSize.load(std::memory_order_relaxed);
    if (bytes == 0) return;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t size = (bytes + page - 1) / page * page;
    // A guard page below, so that a handler overflowing this stack faults instead of writing past it.
    void* mapping = mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED || mprotect(mapping, page, PROT_NONE) != 0) {
      if (mapping != MAP_FAILED) munmap(mapping, size + page);
      failed_ = true;
      return;
    }
    stack_t stack = {};
    stack.ss_sp = static_cast<char*>(mapping) + page;
    stack.ss_size = size;
    stack_t previous = {};
    if (sigaltstack(&stack, &previous) != 0) {
      munmap(mapping, size + page);
      failed_ = true;
      return;
    }
    hadPrevious_ = (previous.ss_flags & SS_DISABLE) == 0;
    previous_ = previous;
    previous_.ss_flags = 0;
    mapping_ = mapping;
    mappingSize_ = size + page;
    page_ = page;
  }

 private:
  static constexpr stack_t kDisable = {nullptr, SS_DISABLE, 0};
  void* stackStart() const { return static_cast<char*>(mapping_) + page_; }

  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  size_t page_ = 0;
  stack_t previous_ = {};
  bool hadPrevious_ = false;
  bool failed_ = false;
};

}  // namespace platform
