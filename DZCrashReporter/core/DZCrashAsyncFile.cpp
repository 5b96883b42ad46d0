#include "DZCrashReporter/core/DZCrashAsyncFile.h"

#include <sys/types.h>
#include <unistd.h>
#include <cerrno>

#include "DZCrashReporter/core/DZCrashAsync.h"

namespace dzcrash {

// async-signal-safe.
void DZcrash_async_file_init(dzcrash_async_file_t* file, int fd, uint64_t output_limit) {
  file->fd = fd;
  file->limit_bytes = output_limit;
  file->total_bytes = 0;
  file->buflen = 0;
}

// async-signal-safe.
ssize_t DZcrash_async_writen(int fd, const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  size_t left = len;
  while (left > 0) {
    const ssize_t written = write(fd, p, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    // A write that makes no progress and reports no error would otherwise loop for ever.
    if (written == 0) return -1;
    left -= static_cast<size_t>(written);
    p += written;
  }
  return static_cast<ssize_t>(len);
}

// async-signal-safe.
bool DZcrash_async_file_write(dzcrash_async_file_t* file, const void* data, size_t len) {
  if (file->limit_bytes != 0) {
    if (file->total_bytes > file->limit_bytes || len > file->limit_bytes - file->total_bytes) return false;
  }
  file->total_bytes += len;

  if (file->buflen + len > sizeof(file->buffer)) {
    if (!DZcrash_async_file_flush(file)) return false;
  }
  if (len > sizeof(file->buffer)) {
    return DZcrash_async_writen(file->fd, data, len) >= 0;
  }
  DZcrash_async_memcpy(file->buffer + file->buflen, data, len);
  file->buflen += len;
  return true;
}

// async-signal-safe.
bool DZcrash_async_file_flush(dzcrash_async_file_t* file) {
  if (file->buflen == 0) return true;
  if (DZcrash_async_writen(file->fd, file->buffer, file->buflen) < 0) return false;
  file->buflen = 0;
  return true;
}

// async-signal-safe.
bool DZcrash_async_file_close(dzcrash_async_file_t* file) {
  const bool flushed = DZcrash_async_file_flush(file);
  const bool closed = close(file->fd) == 0;
  file->fd = -1;
  return flushed && closed;
}

}  // namespace dzcrash
