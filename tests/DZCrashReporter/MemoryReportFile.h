#pragma once

// An async file over an anonymous in-memory file, for tests that write with the report writer or its
// encoder and read back what arrived.

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncFile.h"

namespace dzcrash::test {

class MemoryReportFile {
 public:
  // `limit`: the async file's cap on the bytes it accepts (0: none).
  explicit MemoryReportFile(uint64_t limit = 0) {
    fd_ = memfd_create("report", MFD_CLOEXEC);
    EXPECT_GE(fd_, 0);
    DZcrash_async_file_init(&file_, fd_, limit);
  }
  ~MemoryReportFile() {
    if (fd_ >= 0) close(fd_);
  }
  MemoryReportFile(const MemoryReportFile&) = delete;
  MemoryReportFile& operator=(const MemoryReportFile&) = delete;

  dzcrash_async_file_t* file() { return &file_; }

  // Flushes and returns every byte written so far.
  std::vector<uint8_t> bytes() {
    EXPECT_TRUE(DZcrash_async_file_flush(&file_));
    const off_t size = lseek(fd_, 0, SEEK_END);
    std::vector<uint8_t> out(static_cast<size_t>(size));
    EXPECT_EQ(pread(fd_, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
    return out;
  }

 private:
  int fd_ = -1;
  dzcrash_async_file_t file_{};
};

}  // namespace dzcrash::test
