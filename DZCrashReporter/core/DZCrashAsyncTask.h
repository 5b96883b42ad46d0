#pragma once

// A task is the memory the crash reporter inspects. Every parser reads through it, so that the same
// code runs against the own process (checked reads that fail cleanly instead of faulting) and against
// bytes placed at chosen addresses (tests, fixtures, offline tools).

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"

namespace dzcrash {

enum dzcrash_task_kind : int {
  // The calling process. Reads use process_vm_readv, which reports a bad address instead of faulting;
  // where that system call is refused (seccomp, old kernels) reads go through /proc/self/mem.
  DZCRASH_TASK_SELF = 0,
  // The calling process, always read through /proc/self/mem.
  DZCRASH_TASK_SELF_PROC_MEM = 1,
  // Regions of caller-owned bytes, each shown at a chosen address.
  DZCRASH_TASK_BUFFER = 2,
  // Another task read through a page cache (DZCrashAsyncTaskCache.h).
  DZCRASH_TASK_CACHED = 3,
};

// One region of a buffer task. A region that is not readable answers DZCRASH_ACCESS_DENIED, as a
// mapped page without read permission does; an address outside every region answers DZCRASH_NOT_FOUND.
struct dzcrash_task_region {
  uint64_t address;
  const void* bytes;
  uint64_t length;
  bool readable;
};

struct dzcrash_task_cache;
struct dzframe_walk_memo;

// Tasks carry no reference count: the own-process task is static, and whoever builds a buffer task
// keeps it (and its regions' bytes) alive for as long as anything reads through it.
struct dzcrash_task {
  dzcrash_task_kind kind;
  const dzcrash_task_region* regions;
  size_t region_count;
  // DZCRASH_TASK_CACHED: the cache, which names the task behind it.
  dzcrash_task_cache* cache;
  // DZCRASH_TASK_CACHED: what the frame cursor whose walk reads through this task remembers between
  // its steps (DZCrashFrameWalker.h); null for every other task.
  dzframe_walk_memo* walk_memo;
};
using dzcrash_task_t = const dzcrash_task*;

// The own process. async-signal-safe.
dzcrash_task_t DZcrash_async_task_self();

// Fills a buffer task over `count` regions (first match wins where regions overlap). The regions array
// is not copied. async-signal-safe.
void DZcrash_task_init_buffer(dzcrash_task* task, const dzcrash_task_region* regions, size_t count);

// Fills an own-process task that reads only through /proc/self/mem. async-signal-safe.
void DZcrash_task_init_self_proc_mem(dzcrash_task* task);

// The host's page size (read once at start-up). async-signal-safe.
uint64_t DZcrash_async_page_size();

// How many of `count` consecutive host pages from `first_page` (a multiple of the page size) of this
// process, whose id is `pid`, can be read now, counted from the first: one system call that reads one
// byte of each page (a page is readable as a whole or not at all). 0 when the first cannot; -1 when
// the kernel refuses the probe, so that nothing is known. At most DZCRASH_TASK_SELF_PROBE_MAX pages are
// probed. async-signal-safe.
constexpr size_t DZCRASH_TASK_SELF_PROBE_MAX = 16;
int64_t DZcrash_async_task_self_readable_pages(pid_t pid, uint64_t first_page, size_t count);

// Copies `length` bytes of this process's memory at `address`, which the caller knows to be mapped and
// readable, without the checks of a sanitizer build (the bytes may lie in another frame's stack or in a
// region a sanitizer keeps to itself). async-signal-safe.
void DZcrash_async_task_self_copy_readable(void* dest, uint64_t address, size_t length);

// Copies up to `length` bytes from `address` and stops at the first byte that cannot be read.
// `copied` receives how many bytes arrived. DZCRASH_OK only when all did; otherwise the code tells why
// the byte at address + copied could not be read (NOT_FOUND: unmapped, ACCESS_DENIED: mapped but not
// readable). async-signal-safe.
dzcrash_error_t DZcrash_async_task_read_partial(dzcrash_task_t task, uint64_t address, void* dest,
                                                size_t length, size_t* copied);

// Copies `length` bytes from address + offset. DZCRASH_NO_MEMORY when the offset wraps the address;
// on any error the destination's contents are undefined. async-signal-safe.
dzcrash_error_t DZcrash_async_task_memcpy(dzcrash_task_t task, uint64_t address, int64_t offset, void* dest,
                                          size_t length);

// Checked reads of one value; multi-byte values pass through the byte-order table. The result is
// meaningful only on DZCRASH_OK. async-signal-safe.
dzcrash_error_t DZcrash_async_task_read_uint8(dzcrash_task_t task, uint64_t address, int64_t offset,
                                              uint8_t* result);
dzcrash_error_t DZcrash_async_task_read_uint16(dzcrash_task_t task,
                                               const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                               int64_t offset, uint16_t* result);
dzcrash_error_t DZcrash_async_task_read_uint32(dzcrash_task_t task,
                                               const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                               int64_t offset, uint32_t* result);
dzcrash_error_t DZcrash_async_task_read_uint64(dzcrash_task_t task,
                                               const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                               int64_t offset, uint64_t* result);

}  // namespace dzcrash
