#include "DZCrashReporter/core/DZCrashAsyncTask.h"

#include "DZCrashReporter/core/DZCrashAsyncTaskCache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>

namespace dzcrash {

namespace {

const uint64_t kPageSize = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

const dzcrash_task kSelfTask = {DZCRASH_TASK_SELF, nullptr, 0, nullptr, nullptr};

// Set once process_vm_readv has been refused, so that later reads skip straight to /proc/self/mem.
std::atomic<bool> gVmReadvRefused{false};

// Keeps a signal handler's interrupted code from seeing errno changed under it.
class ErrnoGuard {
 public:
  ErrnoGuard() : saved_(errno) {}
  ~ErrnoGuard() { errno = saved_; }
  ErrnoGuard(const ErrnoGuard&) = delete;
  ErrnoGuard& operator=(const ErrnoGuard&) = delete;

 private:
  int saved_;
};

// Tells an unmapped page from a mapped one that could not be read: msync fails with ENOMEM only where
// nothing is mapped, whatever the protection. async-signal-safe.
dzcrash_error_t classifyUnreadable(uint64_t address) {
  void* page = reinterpret_cast<void*>(address & ~(kPageSize - 1));
  if (msync(page, kPageSize, MS_ASYNC) == 0) return DZCRASH_ACCESS_DENIED;
  if (errno == ENOMEM) return DZCRASH_NOT_FOUND;
  return DZCRASH_UNKNOWN;
}

// async-signal-safe.
dzcrash_error_t readProcMem(uint64_t address, uint8_t* dest, size_t length, size_t* copied) {
  *copied = 0;
  const int fd = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return DZCRASH_NOT_SUPPORTED;
  dzcrash_error_t result = DZCRASH_OK;
  while (*copied < length) {
    const uint64_t at = address + *copied;
    // The file offset is signed: addresses in the upper half are never user memory.
    if (at > static_cast<uint64_t>(INT64_MAX)) {
      result = DZCRASH_NOT_FOUND;
      break;
    }
    const ssize_t n = pread(fd, dest + *copied, length - *copied, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      result = classifyUnreadable(at);
      break;
    }
    *copied += static_cast<size_t>(n);
  }
  close(fd);
  return result;
}

// async-signal-safe.
dzcrash_error_t readSelf(uint64_t address, uint8_t* dest, size_t length, size_t* copied) {
  *copied = 0;
  while (*copied < length && !gVmReadvRefused.load(std::memory_order_relaxed)) {
    const uint64_t at = address + *copied;
    iovec local = {dest + *copied, length - *copied};
    iovec remote = {reinterpret_cast<void*>(at), length - *copied};
    const ssize_t n = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (n > 0) {
      *copied += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || errno == EFAULT) return classifyUnreadable(at);
    if (errno == EPERM || errno == ENOSYS) {
      gVmReadvRefused.store(true, std::memory_order_relaxed);
      break;
    }
    if (errno == EINTR) continue;
    return DZCRASH_UNKNOWN;
  }
  if (*copied == length) return DZCRASH_OK;
  size_t more = 0;
  const dzcrash_error_t result = readProcMem(address + *copied, dest + *copied, length - *copied, &more);
  *copied += more;
  return result;
}

// async-signal-safe.
dzcrash_error_t readBuffer(const dzcrash_task* task, uint64_t address, uint8_t* dest, size_t length,
                           size_t* copied) {
  *copied = 0;
  while (*copied < length) {
    const uint64_t at = address + *copied;
    const dzcrash_task_region* found = nullptr;
    for (size_t i = 0; i < task->region_count; ++i) {
      const dzcrash_task_region& region = task->regions[i];
      if (at >= region.address && at - region.address < region.length) {
        found = &region;
        break;
      }
    }
    if (found == nullptr) return DZCRASH_NOT_FOUND;
    if (!found->readable) return DZCRASH_ACCESS_DENIED;
    const uint64_t available = found->length - (at - found->address);
    const size_t chunk = available < length - *copied ? static_cast<size_t>(available) : length - *copied;
    DZcrash_async_memcpy(dest + *copied, static_cast<const uint8_t*>(found->bytes) + (at - found->address),
                         chunk);
    *copied += chunk;
  }
  return DZCRASH_OK;
}

}  // namespace

// async-signal-safe.
dzcrash_task_t DZcrash_async_task_self() {
  return &kSelfTask;
}

// async-signal-safe.
void DZcrash_task_init_buffer(dzcrash_task* task, const dzcrash_task_region* regions, size_t count) {
  task->kind = DZCRASH_TASK_BUFFER;
  task->regions = regions;
  task->region_count = count;
  task->cache = nullptr;
  task->walk_memo = nullptr;
}

// async-signal-safe.
void DZcrash_task_init_self_proc_mem(dzcrash_task* task) {
  task->kind = DZCRASH_TASK_SELF_PROC_MEM;
  task->regions = nullptr;
  task->region_count = 0;
  task->cache = nullptr;
  task->walk_memo = nullptr;
}

// async-signal-safe.
uint64_t DZcrash_async_page_size() {
  return kPageSize;
}

// async-signal-safe.
int64_t DZcrash_async_task_self_readable_pages(pid_t pid, uint64_t first_page, size_t count) {
  if (gVmReadvRefused.load(std::memory_order_relaxed)) return -1;
  if (count == 0) return 0;
  if (count > DZCRASH_TASK_SELF_PROBE_MAX) count = DZCRASH_TASK_SELF_PROBE_MAX;
  // Pages past the top of the address space do not exist.
  const uint64_t room = (UINT64_MAX - first_page) / kPageSize + 1;
  if (count > room) count = static_cast<size_t>(room);
  ErrnoGuard errnoGuard;
  uint8_t bytes[DZCRASH_TASK_SELF_PROBE_MAX];
  iovec local = {bytes, count};
  iovec remote[DZCRASH_TASK_SELF_PROBE_MAX];
  for (size_t i = 0; i < count; ++i) remote[i] = {reinterpret_cast<void*>(first_page + i * kPageSize), 1};
  while (true) {
    // The kernel copies the remote pieces in order and stops at the first it cannot read.
    const ssize_t n = process_vm_readv(pid, &local, 1, remote, count, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EPERM || errno == ENOSYS) {
      gVmReadvRefused.store(true, std::memory_order_relaxed);
      return -1;
    }
    return 0;
  }
}

// async-signal-safe. Word copies with a compiler barrier between them, so that no call to the
// sanitizers' memcpy is made of the loop.
__attribute__((no_sanitize("address", "thread", "undefined"))) void DZcrash_async_task_self_copy_readable(
    void* dest, uint64_t address, size_t length) {
  const auto* from = reinterpret_cast<const uint8_t*>(address);
  auto* to = static_cast<uint8_t*>(dest);
  while (length >= sizeof(uint64_t)) {
    uint64_t word;
    __builtin_memcpy(&word, from, sizeof(word));
    __builtin_memcpy(to, &word, sizeof(word));
    __asm__ volatile("" ::: "memory");
    from += sizeof(word);
    to += sizeof(word);
    length -= sizeof(word);
  }
  while (length > 0) {
    *to++ = *from++;
    __asm__ volatile("" ::: "memory");
    --length;
  }
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_read_partial(dzcrash_task_t task, uint64_t address, void* dest,
                                                size_t length, size_t* copied) {
  size_t ignored = 0;
  if (copied == nullptr) copied = &ignored;
  *copied = 0;
  if (task == nullptr || (dest == nullptr && length > 0)) return DZCRASH_INVALID_ARGUMENT;
  if (length == 0) return DZCRASH_OK;
  // A range that runs past the top of the address space has no readable end.
  uint64_t last = 0;
  if (__builtin_add_overflow(address, static_cast<uint64_t>(length - 1), &last)) {
    const size_t reachable = static_cast<size_t>(UINT64_MAX - address) + 1;
    const dzcrash_error_t head = DZcrash_async_task_read_partial(task, address, dest, reachable, copied);
    return head == DZCRASH_OK ? DZCRASH_NOT_FOUND : head;
  }
  uint8_t* out = static_cast<uint8_t*>(dest);
  // A cache serves most reads from its copies without a system call; its misses come back here.
  if (task->kind == DZCRASH_TASK_CACHED) {
    return DZcrash_async_task_cache_read(task->cache, address, out, length, copied);
  }
  ErrnoGuard errnoGuard;
  switch (task->kind) {
    case DZCRASH_TASK_SELF:
      return readSelf(address, out, length, copied);
    case DZCRASH_TASK_SELF_PROC_MEM:
      return readProcMem(address, out, length, copied);
    case DZCRASH_TASK_BUFFER:
      return readBuffer(task, address, out, length, copied);
    case DZCRASH_TASK_CACHED:
      break;
  }
  return DZCRASH_INVALID_ARGUMENT;
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_memcpy(dzcrash_task_t task, uint64_t address, int64_t offset, void* dest,
                                          size_t length) {
  uint64_t target = 0;
  if (!DZcrash_async_address_apply_offset(address, offset, &target)) return DZCRASH_NO_MEMORY;
  return DZcrash_async_task_read_partial(task, target, dest, length, nullptr);
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_read_uint8(dzcrash_task_t task, uint64_t address, int64_t offset,
                                              uint8_t* result) {
  return DZcrash_async_task_memcpy(task, address, offset, result, sizeof(*result));
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_read_uint16(dzcrash_task_t task,
                                               const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                               int64_t offset, uint16_t* result) {
  const dzcrash_error_t err = DZcrash_async_task_memcpy(task, address, offset, result, sizeof(*result));
  if (err == DZCRASH_OK) *result = byteorder->swap16(*result);
  return err;
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_read_uint32(dzcrash_task_t task,
                                               const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                               int64_t offset, uint32_t* result) {
  const dzcrash_error_t err = DZcrash_async_task_memcpy(task, address, offset, result, sizeof(*result));
  if (err == DZCRASH_OK) *result = byteorder->swap32(*result);
  return err;
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_read_uint64(dzcrash_task_t task,
                                               const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                               int64_t offset, uint64_t* result) {
  const dzcrash_error_t err = DZcrash_async_task_memcpy(task, address, offset, result, sizeof(*result));
  if (err == DZCRASH_OK) *result = byteorder->swap64(*result);
  return err;
}

}  // namespace dzcrash
