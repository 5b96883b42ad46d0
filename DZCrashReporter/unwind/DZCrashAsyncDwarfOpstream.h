#pragma once

// A forward reader over one DWARF program (call-frame instructions or an expression block) inside a
// dwarf_section: every read is checked against the program's end. async-signal-safe.

#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"

namespace dzcrash::async {

class dwarf_opstream {
 public:
  // The program is [address + offset, address + offset + length). DZCRASH_INVALID_ARGUMENT for a
  // negative length, sums that wrap, or a range that is not inside the section.
  dzcrash_error_t init(dwarf_section* section, const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                       int64_t offset, int64_t length) {
    section_ = section;
    byteorder_ = byteorder;
    if (length < 0) return DZCRASH_INVALID_ARGUMENT;
    uint64_t start = 0;
    uint64_t end = 0;
    if (!DZcrash_async_address_apply_offset(address, offset, &start) ||
        __builtin_add_overflow(start, static_cast<uint64_t>(length), &end)) {
      return DZCRASH_INVALID_ARGUMENT;
    }
    if (!section->contains(start, 0, static_cast<uint64_t>(length))) return DZCRASH_INVALID_ARGUMENT;
    start_ = start;
    end_ = end;
    position_ = start;
    return DZCRASH_OK;
  }

  // Task addresses.
  uint64_t start() const { return start_; }
  uint64_t end() const { return end_; }
  uint64_t position() const { return position_; }
  bool at_end() const { return position_ >= end_; }

  // Moves to an address inside [start, end]; false (and no move) outside.
  bool seek(uint64_t address) {
    if (address < start_ || address > end_) return false;
    position_ = address;
    return true;
  }

  // Skips bytes; false when that would pass the end.
  bool skip(uint64_t count) {
    if (count > end_ - position_) return false;
    position_ += count;
    return true;
  }

  // Each read advances past the value; false (and no move) when the value does not fit before the end.
  template <typename T>
  bool read_intU(T* value) {
    if (sizeof(T) > end_ - position_) return false;
    dzcrash_error_t err = DZCRASH_INVALID_ARGUMENT;
    if constexpr (sizeof(T) == 1) {
      uint8_t v = 0;
      err = section_->read_uint8(position_, 0, &v);
      *value = static_cast<T>(v);
    } else if constexpr (sizeof(T) == 2) {
      uint16_t v = 0;
      err = section_->read_uint16(byteorder_, position_, 0, &v);
      *value = static_cast<T>(v);
    } else if constexpr (sizeof(T) == 4) {
      uint32_t v = 0;
      err = section_->read_uint32(byteorder_, position_, 0, &v);
      *value = static_cast<T>(v);
    } else {
      uint64_t v = 0;
      err = section_->read_uint64(byteorder_, position_, 0, &v);
      *value = static_cast<T>(v);
    }
    if (err != DZCRASH_OK) return false;
    position_ += sizeof(T);
    return true;
  }

  bool read_uleb128(uint64_t* value) {
    uint64_t size = 0;
    if (dzcrash_async_dwarf_read_uleb128(section_, position_, 0, value, &size) != DZCRASH_OK) return false;
    if (size > end_ - position_) return false;
    position_ += size;
    return true;
  }

  bool read_sleb128(int64_t* value) {
    uint64_t size = 0;
    if (dzcrash_async_dwarf_read_sleb128(section_, position_, 0, value, &size) != DZCRASH_OK) return false;
    if (size > end_ - position_) return false;
    position_ += size;
    return true;
  }

  dwarf_section* section() const { return section_; }

 private:
  dwarf_section* section_ = nullptr;
  const dzcrash_async_byteorder_t* byteorder_ = nullptr;
  uint64_t start_ = 0;
  uint64_t end_ = 0;
  uint64_t position_ = 0;
};

}  // namespace dzcrash::async
