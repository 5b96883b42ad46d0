#pragma once

// Call-frame information is read from a task through a dwarf_section: a range of task addresses (an
// image's __eh_frame or .eh_frame, its .eh_frame_hdr, one expression block) whose reads are checked
// against the range's bounds. Reads are served from two small local windows, each refilled with one
// read of the task when a read falls outside both, so that parsing a record or running a program costs
// one or two reads of the task instead of one per field, and no mapping is made. The windows are
// copies: a section sees the task's bytes as they were when its window was filled.
//
// Also here: the LEB128 and fixed-size value readers the DWARF parsers share.
//
// Every routine is async-signal-safe: no heap, no locks. A section lives on its user's stack and
// belongs to one thread.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash::async {

class dwarf_section {
 public:
  static constexpr size_t kWindowSize = 128;

  dwarf_section() = default;
  dwarf_section(const dwarf_section&) = delete;
  dwarf_section& operator=(const dwarf_section&) = delete;

  // [address, address + length) of the task. DZCRASH_INVALID_ARGUMENT when the range wraps past the top
  // of the address space. Nothing is read yet.
  dzcrash_error_t init(dzcrash_task_t task, uint64_t address, uint64_t length);

  dzcrash_task_t task() const { return task_; }
  uint64_t base_address() const { return address_; }
  uint64_t length() const { return length_; }
  // One past the last byte.
  uint64_t end_address() const { return address_ + length_; }

  // True when [address + offset, address + offset + length) lies inside the section and no sum wraps.
  bool contains(uint64_t address, int64_t offset, uint64_t length) const;

  // Copies length bytes from address + offset. DZCRASH_INVALID_ARGUMENT unless the whole range lies in
  // the section; otherwise the task read's own error.
  dzcrash_error_t read(uint64_t address, int64_t offset, void* dest, size_t length) {
    // Parsers read a few bytes at a time, nearly always from a window: that path stays inline. Windows
    // hold only bytes of the section, so a range inside one needs no other bounds check.
    const uint64_t magnitude =
        offset >= 0 ? static_cast<uint64_t>(offset) : 0 - static_cast<uint64_t>(offset);
    const bool wraps = offset >= 0 ? magnitude > UINT64_MAX - address : magnitude > address;
    const uint64_t begin = offset >= 0 ? address + magnitude : address - magnitude;
    if (!wraps) {
      for (uint8_t i = 0; i < 2; ++i) {
        const window& w = windows_[i];
        const uint64_t into = begin - w.address;
        if (begin >= w.address && into < w.length && length <= w.length - into) {
          __builtin_memcpy(dest, w.bytes + into, length);
          victim_ = static_cast<uint8_t>(1 - i);
          return DZCRASH_OK;
        }
      }
    }
    return refill_and_read(address, offset, dest, length);
  }

  dzcrash_error_t read_uint8(uint64_t address, int64_t offset, uint8_t* result);
  dzcrash_error_t read_uint16(const dzcrash_async_byteorder_t* byteorder, uint64_t address, int64_t offset,
                              uint16_t* result);
  dzcrash_error_t read_uint32(const dzcrash_async_byteorder_t* byteorder, uint64_t address, int64_t offset,
                              uint32_t* result);
  dzcrash_error_t read_uint64(const dzcrash_async_byteorder_t* byteorder, uint64_t address, int64_t offset,
                              uint64_t* result);

 private:
  dzcrash_error_t refill_and_read(uint64_t address, int64_t offset, void* dest, size_t length);

  struct window {
    uint64_t address;
    uint32_t length;
    uint8_t bytes[kWindowSize];
  };

  dzcrash_task_t task_ = nullptr;
  uint64_t address_ = 0;
  uint64_t length_ = 0;
  // Left unfilled until init: a section is made per unwinding step and its bytes are never read
  // before a refill writes them.
  window windows_[2];
  // The window a miss refills next (the one that served less recently).
  uint8_t victim_ = 0;
};

// An unsigned value of 1, 2, 4 or 8 bytes at address + offset, zero-extended. DZCRASH_INVALID_ARGUMENT
// for other sizes or a range outside the section.
dzcrash_error_t dzcrash_async_dwarf_read_uintmax64(dwarf_section* section,
                                                   const dzcrash_async_byteorder_t* byteorder,
                                                   uint64_t address, int64_t offset, uint8_t size,
                                                   uint64_t* result);

// LEB128 values: at most 10 bytes (64 bits of value; bits of a tenth byte beyond the 64th are dropped).
// A value still continued after ten bytes gives DZCRASH_NOT_SUPPORTED, a byte outside the section
// DZCRASH_INVALID_ARGUMENT. size receives the bytes consumed. Signed values are sign-extended from bit 6
// of their last byte when they hold fewer than 64 bits.
dzcrash_error_t dzcrash_async_dwarf_read_uleb128(dwarf_section* section, uint64_t address, int64_t offset,
                                                 uint64_t* result, uint64_t* size);
dzcrash_error_t dzcrash_async_dwarf_read_sleb128(dwarf_section* section, uint64_t address, int64_t offset,
                                                 int64_t* result, uint64_t* size);

// The same, straight from the task: the value may lie anywhere a page's reach from address + offset.
dzcrash_error_t dzcrash_async_dwarf_read_task_uleb128(dzcrash_task_t task, uint64_t address, int64_t offset,
                                                      uint64_t* result, uint64_t* size);
dzcrash_error_t dzcrash_async_dwarf_read_task_sleb128(dzcrash_task_t task, uint64_t address, int64_t offset,
                                                      int64_t* result, uint64_t* size);

}  // namespace dzcrash::async
