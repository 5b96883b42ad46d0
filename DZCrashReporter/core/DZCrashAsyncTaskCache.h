#pragma once

// A small cache of another task's memory, for a burst of many small reads of the same few places: one
// stack walk reads the same unwind tables and stack pages over and over, and a checked read of the own
// process costs a system call each time.
//
// Over the own process (DZcrash_async_task_self), the cache keeps no copies: the first read that
// touches a page probes it and the pages after it with one system call, and every later read of a page
// known to be readable copies straight from memory. Over any other task, the first read that touches a
// page copies the whole page with one checked read of the backing task; later reads of that page are
// served from the copy until the cache is reset. Either way memory must hold still during the burst
// (loaded code and tables, the stack of a thread that is not running): the own process's pages are read
// as they are at each read and must stay mapped, another task's as they were when first read. A read
// that reaches a page that cannot be read goes to the backing task, so the cache never answers
// differently from the task it wraps.
//
// The cache is plain data that lives on its user's stack (about 16 KiB); a cache and the tasks made
// over it belong to one thread. Every routine is async-signal-safe: no heap, no locks.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

constexpr size_t DZCRASH_TASK_CACHE_PAGE_SIZE = 1024;
constexpr size_t DZCRASH_TASK_CACHE_PAGE_COUNT = 16;
// Runs of own-process pages known to be readable.
constexpr size_t DZCRASH_TASK_CACHE_RUN_COUNT = 16;

struct dzcrash_task_cache {
  struct page_slot {
    // Address of the page's first byte (a multiple of the page size).
    uint64_t address;
    // Bytes of the page that were read, from its first byte.
    uint32_t valid;
  };
  // The task the pages come from; not owned.
  dzcrash_task_t backing;
  // Slots in use, and the slot the next miss replaces once all are in use.
  uint32_t used;
  uint32_t next_victim;
  // The slot that answered last, tried first.
  uint32_t last_hit;
  page_slot slots[DZCRASH_TASK_CACHE_PAGE_COUNT];
  struct readable_run {
    // First byte and last byte (inclusive, so that a run may end at the top of the address space) of
    // host pages found readable.
    uint64_t first;
    uint64_t last;
  };
  // The backing task is the own process, read in place where a probe found it readable; false once
  // the kernel refuses the probe, and then pages are copied.
  bool direct;
  pid_t pid;
  uint32_t run_count;
  uint32_t next_run_victim;
  uint32_t last_run;
  readable_run runs[DZCRASH_TASK_CACHE_RUN_COUNT];
  uint8_t pages[DZCRASH_TASK_CACHE_PAGE_COUNT][DZCRASH_TASK_CACHE_PAGE_SIZE];
};

// Empties the cache and names the task it reads. Only the bookkeeping is written, not the pages, so
// that starting a burst costs next to nothing. async-signal-safe.
void DZcrash_task_cache_init(dzcrash_task_cache* cache, dzcrash_task_t backing);

// Fills a task that reads through the cache (kind DZCRASH_TASK_CACHED). The task points at the cache,
// which must outlive it. async-signal-safe.
void DZcrash_task_init_cached(dzcrash_task* task, dzcrash_task_cache* cache);

// The read behind DZcrash_async_task_read_partial for a cached task: the same contract.
// async-signal-safe.
dzcrash_error_t DZcrash_async_task_cache_read(dzcrash_task_cache* cache, uint64_t address, void* dest,
                                              size_t length, size_t* copied);

}  // namespace dzcrash
