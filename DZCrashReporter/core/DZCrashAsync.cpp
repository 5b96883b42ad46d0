#include "DZCrashReporter/core/DZCrashAsync.h"

#include <sys/syscall.h>
#include <unistd.h>
#include <cstring>

namespace dzcrash {

namespace {
constexpr const char* kErrorTexts[] = {
    "No error",
    "Unknown error",
    "Output file can not be opened (or written to)",
    "No memory available",
    "Operation not supported",
    "Invalid argument",
    "Internal error",
    "Access denied",
    "Not found",
    "The input data is in an unknown or invalid format.",
};
constexpr int kErrorTextCount = sizeof(kErrorTexts) / sizeof(kErrorTexts[0]);
}  // namespace

// async-signal-safe.
const char* DZcrash_async_strerror(dzcrash_error_t error) {
  const int code = static_cast<int>(error);
  if (code < 0 || code >= kErrorTextCount) return "Unhandled error code";
  return kErrorTexts[code];
}

// async-signal-safe (all six).
uint16_t dzcr_nswap16(uint16_t value) {
  return value;
}
uint32_t dzcr_nswap32(uint32_t value) {
  return value;
}
uint64_t dzcr_nswap64(uint64_t value) {
  return value;
}
uint16_t dzcr_swap16(uint16_t value) {
  return __builtin_bswap16(value);
}
uint32_t dzcr_swap32(uint32_t value) {
  return __builtin_bswap32(value);
}
uint64_t dzcr_swap64(uint64_t value) {
  return __builtin_bswap64(value);
}

const dzcrash_async_byteorder_t DZcrash_async_byteorder_direct = {dzcr_nswap16, dzcr_nswap32, dzcr_nswap64};
const dzcrash_async_byteorder_t DZcrash_async_byteorder_swapped = {dzcr_swap16, dzcr_swap32, dzcr_swap64};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the byte-order tables assume a little-endian host");

// async-signal-safe.
const dzcrash_async_byteorder_t* DZcrash_async_byteorder_little_endian() {
  return &DZcrash_async_byteorder_direct;
}

// async-signal-safe.
const dzcrash_async_byteorder_t* DZcrash_async_byteorder_big_endian() {
  return &DZcrash_async_byteorder_swapped;
}

// async-signal-safe.
bool DZcrash_async_address_apply_offset(uint64_t address, int64_t offset, uint64_t* result) {
  uint64_t sum = 0;
  if (offset >= 0) {
    if (__builtin_add_overflow(address, static_cast<uint64_t>(offset), &sum)) return false;
  } else {
    // Negate through unsigned arithmetic so that INT64_MIN does not overflow.
    const uint64_t magnitude = ~static_cast<uint64_t>(offset) + 1;
    if (magnitude > address) return false;
    sum = address - magnitude;
  }
  if (result != nullptr) *result = sum;
  return true;
}

// async-signal-safe: a raw system call.
pid_t DZ_mach_thread_self() {
  return static_cast<pid_t>(syscall(SYS_gettid));
}

// async-signal-safe.
int DZcrash_async_strcmp(const char* s1, const char* s2) {
  while (*s1 != '\0' && *s1 == *s2) {
    ++s1;
    ++s2;
  }
  return static_cast<int>(static_cast<unsigned char>(*s1)) -
         static_cast<int>(static_cast<unsigned char>(*s2));
}

// async-signal-safe.
int DZcrash_async_strncmp(const char* s1, const char* s2, size_t n) {
  for (; n > 0; --n, ++s1, ++s2) {
    if (*s1 != *s2 || *s1 == '\0') {
      return static_cast<int>(static_cast<unsigned char>(*s1)) -
             static_cast<int>(static_cast<unsigned char>(*s2));
    }
  }
  return 0;
}

// async-signal-safe: POSIX lists memcpy among the async-signal-safe functions (it is a leaf routine
// that takes no lock). Whole segments are copied through here, so a byte loop would be slow.
void* DZcrash_async_memcpy(void* dest, const void* source, size_t length) {
  if (length == 0) return dest;
  return std::memcpy(dest, source, length);
}

// async-signal-safe (memset is a leaf routine that takes no lock).
void* DZcrash_async_memset(void* buffer, uint8_t value, size_t length) {
  if (length == 0) return buffer;
  return std::memset(buffer, value, length);
}

}  // namespace dzcrash
