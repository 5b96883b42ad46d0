#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"

namespace dzcrash::async {

namespace {

// The longest LEB128 value read: 64 bits of value in groups of 7.
constexpr uint64_t kMaxLebBytes = 10;

}  // namespace

// async-signal-safe.
dzcrash_error_t dwarf_section::init(dzcrash_task_t task, uint64_t address, uint64_t length) {
  task_ = task;
  address_ = address;
  length_ = 0;
  windows_[0].length = 0;
  windows_[1].length = 0;
  victim_ = 0;
  uint64_t end = 0;
  if (__builtin_add_overflow(address, length, &end)) return DZCRASH_INVALID_ARGUMENT;
  length_ = length;
  return DZCRASH_OK;
}

// async-signal-safe.
bool dwarf_section::contains(uint64_t address, int64_t offset, uint64_t length) const {
  uint64_t begin = 0;
  if (!DZcrash_async_address_apply_offset(address, offset, &begin)) return false;
  if (begin < address_) return false;
  const uint64_t into = begin - address_;
  return into <= length_ && length <= length_ - into;
}

// async-signal-safe.
dzcrash_error_t dwarf_section::refill_and_read(uint64_t address, int64_t offset, void* dest, size_t length) {
  if (!contains(address, offset, length)) return DZCRASH_INVALID_ARGUMENT;
  const uint64_t begin = address + static_cast<uint64_t>(offset);
  if (length == 0) return DZCRASH_OK;
  if (length > kWindowSize) return DZcrash_async_task_memcpy(task_, begin, 0, dest, length);

  window& w = windows_[victim_];
  const uint64_t left = end_address() - begin;
  const size_t want = left < kWindowSize ? static_cast<size_t>(left) : kWindowSize;
  size_t copied = 0;
  const dzcrash_error_t err = DZcrash_async_task_read_partial(task_, begin, w.bytes, want, &copied);
  w.address = begin;
  w.length = static_cast<uint32_t>(copied);
  victim_ = static_cast<uint8_t>(1 - victim_);
  if (copied < length) return err != DZCRASH_OK ? err : DZCRASH_UNKNOWN;
  DZcrash_async_memcpy(dest, w.bytes, length);
  return DZCRASH_OK;
}

// async-signal-safe.
dzcrash_error_t dwarf_section::read_uint8(uint64_t address, int64_t offset, uint8_t* result) {
  return read(address, offset, result, sizeof(*result));
}

// async-signal-safe.
dzcrash_error_t dwarf_section::read_uint16(const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                           int64_t offset, uint16_t* result) {
  const dzcrash_error_t err = read(address, offset, result, sizeof(*result));
  if (err == DZCRASH_OK) *result = byteorder->swap16(*result);
  return err;
}

// async-signal-safe.
dzcrash_error_t dwarf_section::read_uint32(const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                           int64_t offset, uint32_t* result) {
  const dzcrash_error_t err = read(address, offset, result, sizeof(*result));
  if (err == DZCRASH_OK) *result = byteorder->swap32(*result);
  return err;
}

// async-signal-safe.
dzcrash_error_t dwarf_section::read_uint64(const dzcrash_async_byteorder_t* byteorder, uint64_t address,
                                           int64_t offset, uint64_t* result) {
  const dzcrash_error_t err = read(address, offset, result, sizeof(*result));
  if (err == DZCRASH_OK) *result = byteorder->swap64(*result);
  return err;
}

// async-signal-safe.
dzcrash_error_t dzcrash_async_dwarf_read_uintmax64(dwarf_section* section,
                                                   const dzcrash_async_byteorder_t* byteorder,
                                                   uint64_t address, int64_t offset, uint8_t size,
                                                   uint64_t* result) {
  dzcrash_error_t err = DZCRASH_INVALID_ARGUMENT;
  switch (size) {
    case 1: {
      uint8_t v = 0;
      err = section->read_uint8(address, offset, &v);
      *result = v;
      break;
    }
    case 2: {
      uint16_t v = 0;
      err = section->read_uint16(byteorder, address, offset, &v);
      *result = v;
      break;
    }
    case 4: {
      uint32_t v = 0;
      err = section->read_uint32(byteorder, address, offset, &v);
      *result = v;
      break;
    }
    case 8:
      err = section->read_uint64(byteorder, address, offset, result);
      break;
    default:
      break;
  }
  // Other sizes, and ranges outside the section, are the caller's mistake.
  return err == DZCRASH_OK ? DZCRASH_OK : DZCRASH_INVALID_ARGUMENT;
}

namespace {

// Both LEB128 forms: the raw bits, how many were filled and the last byte's sign bit. async-signal-safe.
dzcrash_error_t readLeb(dwarf_section* section, uint64_t address, int64_t offset, uint64_t* bits,
                        unsigned* shift, bool* negative, uint64_t* size) {
  *bits = 0;
  *shift = 0;
  for (uint64_t i = 0; i < kMaxLebBytes; ++i) {
    uint8_t byte = 0;
    int64_t at = 0;
    if (__builtin_add_overflow(offset, static_cast<int64_t>(i), &at)) return DZCRASH_INVALID_ARGUMENT;
    if (section->read_uint8(address, at, &byte) != DZCRASH_OK) return DZCRASH_INVALID_ARGUMENT;
    // The tenth byte carries the 64th bit only.
    *bits |= static_cast<uint64_t>(byte & 0x7F) << *shift;
    *shift += 7;
    if ((byte & 0x80) == 0) {
      *negative = (byte & 0x40) != 0;
      *size = i + 1;
      return DZCRASH_OK;
    }
  }
  return DZCRASH_NOT_SUPPORTED;
}

// Reads a LEB128 value with `read` from a section of one page at address + offset (or up to the end of
// the address space); reads stop at the first byte the task cannot give. async-signal-safe.
template <typename T, typename Reader>
dzcrash_error_t readTaskLeb(dzcrash_task_t task, uint64_t address, int64_t offset, T* result, uint64_t* size,
                            Reader read) {
  uint64_t start = 0;
  if (!DZcrash_async_address_apply_offset(address, offset, &start)) return DZCRASH_INVALID_ARGUMENT;
  const uint64_t room = UINT64_MAX - start;
  const uint64_t page = DZcrash_async_page_size();
  dwarf_section section;
  const dzcrash_error_t err = section.init(task, start, room < page ? room : page);
  if (err != DZCRASH_OK) return err;
  return read(&section, start, 0, result, size);
}

}  // namespace

// async-signal-safe.
dzcrash_error_t dzcrash_async_dwarf_read_uleb128(dwarf_section* section, uint64_t address, int64_t offset,
                                                 uint64_t* result, uint64_t* size) {
  uint64_t bits = 0;
  unsigned shift = 0;
  bool negative = false;
  const dzcrash_error_t err = readLeb(section, address, offset, &bits, &shift, &negative, size);
  if (err == DZCRASH_OK) *result = bits;
  return err;
}

// async-signal-safe.
dzcrash_error_t dzcrash_async_dwarf_read_sleb128(dwarf_section* section, uint64_t address, int64_t offset,
                                                 int64_t* result, uint64_t* size) {
  uint64_t bits = 0;
  unsigned shift = 0;
  bool negative = false;
  const dzcrash_error_t err = readLeb(section, address, offset, &bits, &shift, &negative, size);
  if (err != DZCRASH_OK) return err;
  if (negative && shift < 64) bits |= ~uint64_t{0} << shift;
  *result = static_cast<int64_t>(bits);
  return DZCRASH_OK;
}

// async-signal-safe.
dzcrash_error_t dzcrash_async_dwarf_read_task_uleb128(dzcrash_task_t task, uint64_t address, int64_t offset,
                                                      uint64_t* result, uint64_t* size) {
  return readTaskLeb(task, address, offset, result, size, dzcrash_async_dwarf_read_uleb128);
}

// async-signal-safe.
dzcrash_error_t dzcrash_async_dwarf_read_task_sleb128(dzcrash_task_t task, uint64_t address, int64_t offset,
                                                      int64_t* result, uint64_t* size) {
  return readTaskLeb(task, address, offset, result, size, dzcrash_async_dwarf_read_sleb128);
}

}  // namespace dzcrash::async
