#pragma once

// The crash reporter's async-signal-safe toolkit: result codes, byte order, and the small string and
// memory helpers the crash path uses instead of library calls that may lock or allocate.
//
// Every routine declared here may run inside a signal handler (async-signal-safe) unless its name
// contains "nasync".

#include <sys/types.h>
#include <cstddef>
#include <cstdint>

namespace dzcrash {

// Result of every routine of the crash reporter's C layer.
enum dzcrash_error_t : int {
  DZCRASH_OK = 0,
  DZCRASH_UNKNOWN = 1,
  DZCRASH_OUTPUT_FAILED = 2,
  DZCRASH_NO_MEMORY = 3,
  DZCRASH_NOT_SUPPORTED = 4,
  DZCRASH_INVALID_ARGUMENT = 5,
  DZCRASH_INTERNAL = 6,
  DZCRASH_ACCESS_DENIED = 7,
  DZCRASH_NOT_FOUND = 8,
  DZCRASH_INVALID_DATA = 9,
};

// Constant text of a result code; codes outside the table give "Unhandled error code".
// async-signal-safe.
const char* DZcrash_async_strerror(dzcrash_error_t error);

// Byte order of foreign data (an image read from memory or a file). Parsers keep a pointer to one of
// the two tables and pass every multi-byte field through it.
struct dzcrash_async_byteorder_t {
  uint16_t (*swap16)(uint16_t);
  uint32_t (*swap32)(uint32_t);
  uint64_t (*swap64)(uint64_t);
};

uint16_t dzcr_nswap16(uint16_t value);
uint32_t dzcr_nswap32(uint32_t value);
uint64_t dzcr_nswap64(uint64_t value);
uint16_t dzcr_swap16(uint16_t value);
uint32_t dzcr_swap32(uint32_t value);
uint64_t dzcr_swap64(uint64_t value);

extern const dzcrash_async_byteorder_t DZcrash_async_byteorder_direct;
extern const dzcrash_async_byteorder_t DZcrash_async_byteorder_swapped;

// The table that converts little-endian (big-endian) data to the host's order. async-signal-safe.
const dzcrash_async_byteorder_t* DZcrash_async_byteorder_little_endian();
const dzcrash_async_byteorder_t* DZcrash_async_byteorder_big_endian();

// address + offset, refusing a result that wraps past either end of the 64-bit range.
// async-signal-safe.
bool DZcrash_async_address_apply_offset(uint64_t address, int64_t offset, uint64_t* result);

// The calling thread's kernel id (nothing to release). async-signal-safe.
pid_t DZ_mach_thread_self();

// async-signal-safe string and memory helpers; none of them calls into a library that may lock.
int DZcrash_async_strcmp(const char* s1, const char* s2);
int DZcrash_async_strncmp(const char* s1, const char* s2, size_t n);
void* DZcrash_async_memcpy(void* dest, const void* source, size_t length);
void* DZcrash_async_memset(void* buffer, uint8_t value, size_t length);

}  // namespace dzcrash
