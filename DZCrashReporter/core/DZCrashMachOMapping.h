#pragma once

// A 64-bit Mach-O file mapped into this process so that its code can run here: every segment at its
// vmaddr plus one slide, with the segment's own protections. Only code that needs no binding or
// rebasing runs correctly (position-independent code calling within the image, as the unwind fixtures
// are). For tests and tools; not async-signal-safe. The mapping lasts as long as the object.

#include <cstdint>
#include <memory>
#include <string>

namespace dzcrash {

class DZCrashMachOMapping {
 public:
  // Null with a message for a file that is not a 64-bit Mach-O image, whose segments are not aligned
  // to this host's pages, or that cannot be mapped.
  static std::unique_ptr<DZCrashMachOMapping> load(const std::string& path, std::string* error);

  ~DZCrashMachOMapping();
  DZCrashMachOMapping(const DZCrashMachOMapping&) = delete;
  DZCrashMachOMapping& operator=(const DZCrashMachOMapping&) = delete;

  // Where the Mach-O header lies (the start of __TEXT).
  uint64_t headerAddress() const { return headerAddress_; }
  // What was added to every vmaddr.
  int64_t slide() const { return slide_; }

 private:
  DZCrashMachOMapping() = default;

  void* base_ = nullptr;
  uint64_t length_ = 0;
  uint64_t headerAddress_ = 0;
  int64_t slide_ = 0;
};

}  // namespace dzcrash
