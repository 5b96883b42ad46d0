#pragma once

// A memory object is a read-only local copy of a range of a task's memory, page-aligned, so that
// parsers can use plain pointers into it after one checked read. It lives in its own anonymous
// mapping (never the heap), which stays valid even when the task's memory changes afterwards.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

struct dzcrash_async_mobject {
  dzcrash_task_t task;
  // Where the first requested byte lies in this process.
  uintptr_t address;
  // The address that was asked for, in the task.
  uint64_t task_address;
  // Usable bytes from `address`: the request, cut to what could be read.
  uint64_t length;
  // task_address - address, turning task addresses into local pointers.
  int64_t vm_slide;
  // The whole page-aligned mapping, released on free.
  uintptr_t vm_address;
  uint64_t vm_length;
};

// Copies [task_address, task_address + length) into a fresh mapping. Without require_full the copy
// stops at the first byte that cannot be read (DZCRASH_NO_MEMORY when that is the first byte, or the
// range is empty); with require_full any unreadable byte fails the call with DZCRASH_NO_MEMORY.
// DZCRASH_INTERNAL when no mapping can be made. Every DZCRASH_OK must be matched by one free.
// async-signal-safe (mmap, munmap and mprotect are plain system calls).
dzcrash_error_t DZcrash_async_mobject_init(dzcrash_async_mobject* mobj, dzcrash_task_t task,
                                           uint64_t task_address, uint64_t length, bool require_full);

// async-signal-safe (the three accessors).
uint64_t DZcrash_async_mobject_base_address(const dzcrash_async_mobject* mobj);
uint64_t DZcrash_async_mobject_length(const dzcrash_async_mobject* mobj);
dzcrash_task_t DZcrash_async_mobject_task(const dzcrash_async_mobject* mobj);

// True when [address + offset, address + offset + length) lies wholly inside the object's usable bytes
// and no sum wraps. async-signal-safe.
bool DZcrash_async_mobject_verify_local_pointer(const dzcrash_async_mobject* mobj, uintptr_t address,
                                                int64_t offset, size_t length);

// Local pointer to task_address + offset, or null unless the whole range is inside the object.
// async-signal-safe.
void* DZcrash_async_mobject_remap_address(const dzcrash_async_mobject* mobj, uint64_t task_address,
                                          int64_t offset, size_t length);

// Checked reads; DZCRASH_INVALID_ARGUMENT when the value is not wholly inside the object.
// async-signal-safe.
dzcrash_error_t DZcrash_async_mobject_read_uint8(const dzcrash_async_mobject* mobj, uint64_t address,
                                                 int64_t offset, uint8_t* result);
dzcrash_error_t DZcrash_async_mobject_read_uint16(const dzcrash_async_mobject* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, int64_t offset, uint16_t* result);
dzcrash_error_t DZcrash_async_mobject_read_uint32(const dzcrash_async_mobject* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, int64_t offset, uint32_t* result);
dzcrash_error_t DZcrash_async_mobject_read_uint64(const dzcrash_async_mobject* mobj,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, int64_t offset, uint64_t* result);

// Unmaps the copy. async-signal-safe.
void DZcrash_async_mobject_free(dzcrash_async_mobject* mobj);

}  // namespace dzcrash
