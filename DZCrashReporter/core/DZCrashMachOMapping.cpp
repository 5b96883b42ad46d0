#include "DZCrashReporter/core/DZCrashMachOMapping.h"

#include <sys/mman.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"

namespace dzcrash {

namespace {

// Segments reserve address space only; they have no file bytes and may not be touched (__PAGEZERO).
bool isReservation(const dzcrash_macho_segment_command_64& seg) {
  return seg.initprot == 0 && seg.filesize == 0;
}

}  // namespace

std::unique_ptr<DZCrashMachOMapping> DZCrashMachOMapping::load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return nullptr;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  const dzcrash_task_region flat = {0, bytes.data(), bytes.size(), true};
  dzcrash_task flatTask;
  DZcrash_task_init_buffer(&flatTask, &flat, 1);
  dzcrash_async_macho image;
  if (DZcrash_nasync_macho_init(&image, &flatTask, "", 0) != DZCRASH_OK || !image.m64 ||
      image.byteorder != &DZcrash_async_byteorder_direct) {
    if (image.name != nullptr) DZcrash_nasync_macho_free(&image);
    *error = path + " is not a 64-bit Mach-O image of this byte order";
    return nullptr;
  }
  std::vector<dzcrash_macho_segment_command_64> segments;
  for (const void* cmd = DZcrash_async_macho_find_command(&image, DZCRASH_LC_SEGMENT_64); cmd != nullptr;
       cmd = DZcrash_async_macho_next_command_type(&image, cmd, DZCRASH_LC_SEGMENT_64)) {
    dzcrash_macho_segment_command_64 seg;
    if (!DZcrash_async_mobject_verify_local_pointer(&image.load_cmds, reinterpret_cast<uintptr_t>(cmd), 0,
                                                    sizeof(seg))) {
      continue;
    }
    std::memcpy(&seg, cmd, sizeof(seg));
    if (seg.vmsize > 0 && !isReservation(seg)) segments.push_back(seg);
  }
  const uint64_t textVmaddr = image.text_vmaddr;
  DZcrash_nasync_macho_free(&image);

  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  uint64_t low = UINT64_MAX;
  uint64_t high = 0;
  for (const auto& seg : segments) {
    if (seg.vmaddr % page != 0 || seg.vmsize > (1ull << 32) || seg.fileoff > bytes.size() ||
        seg.filesize > bytes.size() - seg.fileoff) {
      *error = path + ": a segment is not page-aligned or lies outside the file";
      return nullptr;
    }
    low = std::min(low, seg.vmaddr);
    high = std::max(high, seg.vmaddr + seg.vmsize);
  }
  if (segments.empty() || high - low > (1ull << 32)) {
    *error = path + ": no segments to map";
    return nullptr;
  }

  std::unique_ptr<DZCrashMachOMapping> mapping(new DZCrashMachOMapping());
  mapping->length_ = (high - low + page - 1) / page * page;
  mapping->base_ =
      mmap(nullptr, mapping->length_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping->base_ == MAP_FAILED) {
    mapping->base_ = nullptr;
    *error = "cannot reserve address space for " + path;
    return nullptr;
  }
  const uint64_t base = reinterpret_cast<uint64_t>(mapping->base_);
  mapping->slide_ = static_cast<int64_t>(base - low);
  mapping->headerAddress_ = textVmaddr + static_cast<uint64_t>(mapping->slide_);
  for (const auto& seg : segments) {
    auto* address = reinterpret_cast<uint8_t*>(seg.vmaddr + static_cast<uint64_t>(mapping->slide_));
    const size_t length = (seg.vmsize + page - 1) / page * page;
    if (mprotect(address, length, PROT_READ | PROT_WRITE) != 0) {
      *error = "cannot map a segment of " + path;
      return nullptr;
    }
    std::memcpy(address, bytes.data() + seg.fileoff, std::min(seg.filesize, seg.vmsize));
    // The protection bits of both worlds are the same: read 1, write 2, execute 4.
    if (mprotect(address, length, static_cast<int>(seg.initprot & 7)) != 0) {
      *error = "cannot protect a segment of " + path;
      return nullptr;
    }
  }
  return mapping;
}

DZCrashMachOMapping::~DZCrashMachOMapping() {
  if (base_ != nullptr) munmap(base_, length_);
}

}  // namespace dzcrash
