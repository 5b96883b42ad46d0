#include "DZCrashReporter/core/DZCrashAsyncTaskCache.h"

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

}  // namespace

// async-signal-safe.
void DZcrash_task_cache_init(dzcrash_task_cache* cache, dzcrash_task_t backing) {
  cache->backing = backing;
  cache->used = 0;
  cache->next_victim = 0;
  cache->last_hit = 0;
}

// async-signal-safe.
void DZcrash_task_init_cached(dzcrash_task* task, dzcrash_task_cache* cache) {
  task->kind = DZCRASH_TASK_CACHED;
  task->regions = nullptr;
  task->region_count = 0;
  task->cache = cache;
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_task_cache_read(dzcrash_task_cache* cache, uint64_t address, void* dest,
                                              size_t length, size_t* copied) {
  *copied = 0;
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
