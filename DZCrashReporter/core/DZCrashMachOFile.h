#pragma once

// A Mach-O file laid out in memory as a loader would place it: each segment's file bytes at its vmaddr
// plus a chosen slide, zero-filled to its vmsize, in a buffer task. The dump tool and the tests read
// fixture files through it with the same image reader the crash path uses. Not async-signal-safe.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

class DZCrashMachOFile {
 public:
  // Places the header at header_address, or, when it is kAtTextVmaddr, at the __TEXT segment's own
  // vmaddr (slide 0). Null with a message when the bytes are not a loadable image (a universal file, an
  // object file without __TEXT, a truncated header).
  static constexpr uint64_t kAtTextVmaddr = UINT64_MAX;
  // How many zero-fill bytes (vmsize beyond filesize) all segments together may show. A segment whose
  // zero fill does not fit what is left shows its file bytes only; __PAGEZERO (no file bytes) never
  // shows, as it is unreadable in a running process too.
  static constexpr uint64_t kDefaultMaxZeroFill = 64ull << 20;
  static std::unique_ptr<DZCrashMachOFile> fromBytes(std::vector<uint8_t> bytes, uint64_t header_address,
                                                     std::string* error,
                                                     uint64_t max_zero_fill = kDefaultMaxZeroFill);
  static std::unique_ptr<DZCrashMachOFile> load(const std::string& path, uint64_t header_address,
                                                std::string* error);

  ~DZCrashMachOFile();

  dzcrash_task_t task() const { return &task_; }
  uint64_t headerAddress() const { return headerAddress_; }

  DZCrashMachOFile(const DZCrashMachOFile&) = delete;
  DZCrashMachOFile& operator=(const DZCrashMachOFile&) = delete;

 private:
  DZCrashMachOFile() = default;

  // The file as read; segment regions point into it.
  std::vector<uint8_t> bytes_;
  // One read-only anonymous mapping that every zero-fill region shows: the kernel backs it with the
  // shared zero page, so zero fill costs neither memory nor time to clear.
  void* zeros_ = nullptr;
  uint64_t zerosLength_ = 0;
  std::vector<dzcrash_task_region> regions_;
  dzcrash_task task_{};
  uint64_t headerAddress_ = 0;
};

}  // namespace dzcrash
