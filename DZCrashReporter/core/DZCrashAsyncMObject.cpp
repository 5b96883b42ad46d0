#include "DZCrashReporter/core/DZCrashAsyncMObject.h"

#include <sys/mman.h>

namespace dzcrash {

namespace {

constexpr int kMaxMapAttempts = 8;

// An anonymous mapping of `length` bytes that does not overlap [start, start + length): a mapping that
// landed in an unmapped part of the range being copied would make the own process's copy read itself.
// Refused placements are held until the end so the kernel cannot offer them again. async-signal-safe.
void* mapOutside(uint64_t start, uint64_t length) {
  void* refused[kMaxMapAttempts];
  int refusedCount = 0;
  void* result = MAP_FAILED;
  while (refusedCount < kMaxMapAttempts) {
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) break;
    const uint64_t at = reinterpret_cast<uint64_t>(p);
    if (at >= start + length || at + length <= start) {
      result = p;
      break;
    }
    refused[refusedCount++] = p;
  }
  for (int i = 0; i < refusedCount; ++i) munmap(refused[i], length);
  return result;
}

}  // namespace

// async-signal-safe.
dzcrash_error_t DZcrash_async_mobject_init(dzcrash_async_mobject* mobj, dzcrash_task_t task,
                                           uint64_t task_address, uint64_t length, bool require_full) {
  if (mobj == nullptr || task == nullptr) return DZCRASH_INVALID_ARGUMENT;
  const uint64_t pageMask = DZcrash_async_page_size() - 1;
  const uint64_t start = task_address & ~pageMask;
  const uint64_t headOffset = task_address & pageMask;
  // A range whose rounded end wraps past the top of the address space cannot be mapped.
  uint64_t end = 0;
  if (__builtin_add_overflow(task_address, length, &end) || __builtin_add_overflow(end, pageMask, &end)) {
    return DZCRASH_NO_MEMORY;
  }
  uint64_t total = (end & ~pageMask) - start;
  if (length == 0 || total == 0) return DZCRASH_NO_MEMORY;

  void* mapping = mapOutside(start, total);
  if (mapping == MAP_FAILED) return DZCRASH_INTERNAL;

  // Only the requested bytes are read: the page rounding shapes the local mapping, and a task whose
  // readable bytes end inside a page (a buffer task) still yields everything it holds.
  size_t copied = 0;
  const dzcrash_error_t err = DZcrash_async_task_read_partial(
      task, task_address, static_cast<uint8_t*>(mapping) + headOffset, length, &copied);
  uint64_t usable = length;
  if (err != DZCRASH_OK) {
    if (require_full || copied == 0) {
      munmap(mapping, total);
      return DZCRASH_NO_MEMORY;
    }
    usable = copied;
    const uint64_t keep = (headOffset + usable + pageMask) & ~pageMask;
    if (keep < total) munmap(static_cast<uint8_t*>(mapping) + keep, total - keep);
    total = keep;
  }
  mprotect(mapping, total, PROT_READ);

  const uintptr_t local = reinterpret_cast<uintptr_t>(mapping) + headOffset;
  mobj->task = task;
  mobj->address = local;
  mobj->task_address = task_address;
  mobj->length = usable;
  mobj->vm_slide = static_cast<int64_t>(task_address - static_cast<uint64_t>(local));
  mobj->vm_address = reinterpret_cast<uintptr_t>(mapping);
  mobj->vm_length = total;
  return DZCRASH_OK;
}

// async-signal-safe.
uint64_t DZcrash_async_mobject_base_address(const dzcrash_async_mobject* mobj) {
  return mobj->task_address;
}

// async-signal-safe.
uint64_t DZcrash_async_mobject_length(const dzcrash_async_mobject* mobj) {
  return mobj->length;
}

// async-signal-safe.
dzcrash_task_t DZcrash_async_mobject_task(const dzcrash_async_mobject* mobj) {
  return mobj->task;
}

// async-signal-safe.
bool DZcrash_async_mobject_verify_local_pointer(const dzcrash_async_mobject* mobj, uintptr_t address,
                                                int64_t offset, size_t length) {
  uint64_t begin = 0;
  if (!DZcrash_async_address_apply_offset(address, offset, &begin)) return false;
  uint64_t end = 0;
  if (__builtin_add_overflow(begin, static_cast<uint64_t>(length), &end)) return false;
  const uint64_t objectEnd = static_cast<uint64_t>(mobj->address) + mobj->length;
  return begin >= mobj->address && end <= objectEnd;
}

// async-signal-safe.
void* DZcrash_async_mobject_remap_address(const dzcrash_async_mobject* mobj, uint64_t task_address,
                                          int64_t offset, size_t length) {
  // Work in task addresses so that a slide that wraps cannot fool the range test.
  uint64_t target = 0;
  if (!DZcrash_async_address_apply_offset(task_address, offset, &target)) return nullptr;
  if (target < mobj->task_address) return nullptr;
  const uint64_t into = target - mobj->task_address;
  if (into > mobj->length || length > mobj->length - into) return nullptr;
  return reinterpret_cast<void*>(mobj->address + static_cast<uintptr_t>(into));
}

namespace {
// async-signal-safe.
template <typename T>
dzcrash_error_t readValue(const dzcrash_async_mobject* mobj, uint64_t address, int64_t offset, T* result) {
  const void* source = DZcrash_async_mobject_remap_address(mobj, address, offset, sizeof(T));
  if (source == nullptr) return DZCRASH_INVALID_ARGUMENT;
  DZcrash_async_memcpy(result, source, sizeof(T));
  return DZCRASH_OK;
}
}  // namespace

// async-signal-safe.
dzcrash_error_t DZcrash_async_mobject_read_uint8(const dzcrash_async_mobject* mobj, uint64_t address,
                                                 int64_t offset, uint8_t* result) {
  return readValue(mobj, address, offset, result);
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_mobject_read_uint16(const dzcrash_async_mobject* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, int64_t offset, uint16_t* result) {
  const dzcrash_error_t err = readValue(mobj, address, offset, result);
  if (err == DZCRASH_OK) *result = byteorder->swap16(*result);
  return err;
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_mobject_read_uint32(const dzcrash_async_mobject* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, int64_t offset, uint32_t* result) {
  const dzcrash_error_t err = readValue(mobj, address, offset, result);
  if (err == DZCRASH_OK) *result = byteorder->swap32(*result);
  return err;
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_mobject_read_uint64(const dzcrash_async_mobject* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, int64_t offset, uint64_t* result) {
  const dzcrash_error_t err = readValue(mobj, address, offset, result);
  if (err == DZCRASH_OK) *result = byteorder->swap64(*result);
  return err;
}

// async-signal-safe.
void DZcrash_async_mobject_free(dzcrash_async_mobject* mobj) {
  if (mobj->vm_address != 0) munmap(reinterpret_cast<void*>(mobj->vm_address), mobj->vm_length);
  mobj->vm_address = 0;
  mobj->vm_length = 0;
  mobj->length = 0;
}

}  // namespace dzcrash
