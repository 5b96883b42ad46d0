#pragma once

// The report writer's output: a descriptor with a 256-byte buffer and an optional cap on the bytes
// accepted. It lives on the caller's stack; nothing in it is heap memory.

#include <sys/types.h>
#include <cstddef>
#include <cstdint>

namespace dzcrash {

constexpr size_t DZCRASH_ASYNC_FILE_BUFFER_SIZE = 256;

struct dzcrash_async_file_t {
  int fd;
  // Bytes the file may accept in all; 0 means no limit.
  uint64_t limit_bytes;
  // Bytes accepted so far, buffered or not.
  uint64_t total_bytes;
  uint64_t buflen;
  char buffer[DZCRASH_ASYNC_FILE_BUFFER_SIZE];
};

// async-signal-safe.
void DZcrash_async_file_init(dzcrash_async_file_t* file, int fd, uint64_t output_limit);

// Accepts `len` bytes, or refuses the whole write (writing nothing of it) when it would pass the limit;
// reaching the limit exactly is allowed. A write that does not fit beside the buffered bytes first
// writes those out; a write larger than the buffer goes straight to the descriptor. False when a
// write to the descriptor failed or the limit refused the data. async-signal-safe.
bool DZcrash_async_file_write(dzcrash_async_file_t* file, const void* data, size_t len);

// Writes out the buffered bytes; on failure they stay buffered. async-signal-safe.
bool DZcrash_async_file_flush(dzcrash_async_file_t* file);

// Flushes and closes the descriptor. The descriptor is closed even when the flush fails, so that a
// failed report never leaks it; the result is true only when both succeeded. async-signal-safe.
bool DZcrash_async_file_close(dzcrash_async_file_t* file);

// Writes every byte, retrying writes interrupted by a signal. Returns `len`, or -1 on failure.
// async-signal-safe.
ssize_t DZcrash_async_writen(int fd, const void* data, size_t len);

}  // namespace dzcrash
