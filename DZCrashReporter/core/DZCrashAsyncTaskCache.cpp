#include "DZCrashReporter/core/DZCrashAsyncTaskCache.h"

#include <unistd.h>

namespace dzcrash {

namespace {

constexpr uint64_t kPageMask = DZCRASH_TASK_CACHE_PAGE_SIZE - 1;
static_assert((DZCRASH_TASK_CACHE_PAGE_SIZE & kPageMask) == 0, "the page size is a power of two");

// Reads this long gain nothing from the cache and would only push useful pages out.
constexpr size_t kLongRead = 2 * DZCRASH_TASK_CACHE_PAGE_SIZE;

// The slot holding the page at `page`, copying it in on a miss. async-signal-safe.
uint32_t slotFor(dzcrash_task_cache* cache, uint64_t page) {
  if (cache->used > 0 && cache->slots[cache->last_hit].address == page) return cache->last_hit;
  for (uint32_t i = 0; i < cache->used; ++i) {
    if (cache->slots[i].address == page) {
      cache->last_hit = i;
      return i;
    }
  }
  uint32_t slot;
  if (cache->used < DZCRASH_TASK_CACHE_PAGE_COUNT) {
    slot = cache->used++;
  } else {
    slot = cache->next_victim;
    cache->next_victim = (cache->next_victim + 1) % DZCRASH_TASK_CACHE_PAGE_COUNT;
  }
  // The last page of the address space is one byte short of a page: a page read must not wrap.
  const uint64_t room = UINT64_MAX - page;
  const size_t want =
      room < DZCRASH_TASK_CACHE_PAGE_SIZE - 1 ? static_cast<size_t>(room) + 1 : DZCRASH_TASK_CACHE_PAGE_SIZE;
  size_t copied = 0;
  DZcrash_async_task_read_partial(cache->backing, page, cache->pages[slot], want, &copied);
  cache->slots[slot] = {page, static_cast<uint32_t>(copied)};
  cache->last_hit = slot;
  return slot;
}

// Pages probed past the last one a read needs: a walk reads its stack upward and its tables nearby.
constexpr uint64_t kProbeAhead = 3;

// Whether the own process's [address, address + length) lies in runs of readable pages, probing the
// pages from address on when it does not yet. False when some page of the range cannot be read or the
// probe is refused (then `direct` is cleared). The range does not wrap. async-signal-safe.
bool knownReadable(dzcrash_task_cache* cache, uint64_t address, size_t length) {
  const uint64_t last = address + (length - 1);
  const uint32_t hint = cache->last_run;
  if (hint < cache->run_count && address >= cache->runs[hint].first && last <= cache->runs[hint].last) {
    return true;
  }
  for (uint32_t i = 0; i < cache->run_count; ++i) {
    if (address >= cache->runs[i].first && last <= cache->runs[i].last) {
      cache->last_run = i;
      return true;
    }
  }
  const uint64_t page = DZcrash_async_page_size();
  const uint64_t firstPage = address & ~(page - 1);
  const uint64_t needed = ((last & ~(page - 1)) - firstPage) / page + 1;
  uint64_t probe = needed + kProbeAhead;
  if (probe > DZCRASH_TASK_SELF_PROBE_MAX) probe = DZCRASH_TASK_SELF_PROBE_MAX;
  if (needed > probe) {
    // Longer than one probe reaches: checked in pieces, without keeping a run.
    for (uint64_t done = 0; done < needed; done += DZCRASH_TASK_SELF_PROBE_MAX) {
      const uint64_t count =
          needed - done < DZCRASH_TASK_SELF_PROBE_MAX ? needed - done : DZCRASH_TASK_SELF_PROBE_MAX;
      const int64_t readable = DZcrash_async_task_self_readable_pages(cache->pid, firstPage + done * page,
                                                                      static_cast<size_t>(count));
      if (readable < 0) cache->direct = false;
      if (readable < static_cast<int64_t>(count)) return false;
    }
    return true;
  }
  const int64_t readable =
      DZcrash_async_task_self_readable_pages(cache->pid, firstPage, static_cast<size_t>(probe));
  if (readable < 0) {
    cache->direct = false;
    return false;
  }
  if (readable == 0) return false;
  uint32_t slot;
  if (cache->run_count < DZCRASH_TASK_CACHE_RUN_COUNT) {
    slot = cache->run_count++;
  } else {
    slot = cache->next_run_victim;
    cache->next_run_victim = (cache->next_run_victim + 1) % DZCRASH_TASK_CACHE_RUN_COUNT;
  }
  cache->runs[slot] = {firstPage, firstPage + (static_cast<uint64_t>(readable) - 1) * page + (page - 1)};
  cache->last_run = slot;
  return static_cast<uint64_t>(readable) >= needed;
}

}  // namespace

// async-signal-safe.
void DZcrash_task_cache_init(dzcrash_task_cache* cache, dzcrash_task_t backing) {
  cache->backing = backing;
  cache->used = 0;
  cache->next_victim = 0;
  cache->last_hit = 0;
  cache->direct = backing != nullptr && backing->kind == DZCRASH_TASK_SELF;
  cache->pid = cache->direct ? getpid() : 0;
  cache->run_count = 0;
  cache->next_run_victim = 0;
  cache->last_run = 0;
}

// async-signal-safe.
void DZcrash_task_init_cached(dzcrash_task* task, dzcrash_task_cache* cache) {
  task->kind = DZCRASH_TASK_CACHED;
  task->regions = nullptr;
  task->region_count = 0;
  task->cache = cache;
  task->walk_memo = nullptr;
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_cache_read(dzcrash_task_cache* cache, uint64_t address, void* dest,
                                              size_t length, size_t* copied) {
  *copied = 0;
  if (cache->direct) {
    if (knownReadable(cache, address, length)) {
      DZcrash_async_task_self_copy_readable(dest, address, length);
      *copied = length;
      return DZCRASH_OK;
    }
    // A page that cannot be read: the backing task says why and how far. Once the probe is refused
    // the copies below take over.
    if (cache->direct) return DZcrash_async_task_read_partial(cache->backing, address, dest, length, copied);
  }
  if (length >= kLongRead) {
    return DZcrash_async_task_read_partial(cache->backing, address, dest, length, copied);
  }
  auto* out = static_cast<uint8_t*>(dest);
  while (*copied < length) {
    const uint64_t at = address + *copied;
    const uint64_t page = at & ~kPageMask;
    const uint32_t slot = slotFor(cache, page);
    const uint64_t into = at - page;
    const uint64_t valid = cache->slots[slot].valid;
    if (into >= valid) {
      // The page could not be read this far: the backing task says why, or reads what lies beyond a
      // gap (buffer tasks may have one inside a page).
      size_t more = 0;
      const dzcrash_error_t err =
          DZcrash_async_task_read_partial(cache->backing, at, out + *copied, length - *copied, &more);
      *copied += more;
      return err;
    }
    const uint64_t available = valid - into;
    const size_t chunk = available < length - *copied ? static_cast<size_t>(available) : length - *copied;
    DZcrash_async_memcpy(out + *copied, cache->pages[slot] + into, chunk);
    *copied += chunk;
  }
  return DZCRASH_OK;
}

}  // namespace dzcrash
