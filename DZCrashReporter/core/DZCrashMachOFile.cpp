#include "DZCrashReporter/core/DZCrashMachOFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"

namespace dzcrash {

namespace {
// Zero fill beyond a segment's file bytes is materialised only up to this size; __PAGEZERO and other
// reservations stay unmapped, as they are unreadable in a running process too.
constexpr uint64_t kMaxZeroFill = 64ull << 20;
}  // namespace

std::unique_ptr<DZCrashMachOFile> DZCrashMachOFile::fromBytes(std::vector<uint8_t> bytes,
                                                              uint64_t header_address, std::string* error) {
  std::unique_ptr<DZCrashMachOFile> file(new DZCrashMachOFile());

  // Parse the load commands where they lie in the file (right after the header) to learn the layout.
  const dzcrash_task_region flat = {0, bytes.data(), bytes.size(), true};
  dzcrash_task flatTask;
  DZcrash_task_init_buffer(&flatTask, &flat, 1);
  dzcrash_async_macho image;
  const dzcrash_error_t err = DZcrash_nasync_macho_init(&image, &flatTask, "", 0);
  if (err != DZCRASH_OK) {
    *error = std::string("not a loadable Mach-O image: ") + DZcrash_async_strerror(err);
    return nullptr;
  }
  const uint64_t headerAddress = header_address == kAtTextVmaddr ? image.text_vmaddr : header_address;
  const int64_t slide = static_cast<int64_t>(headerAddress - image.text_vmaddr);

  const uint32_t type = image.m64 ? DZCRASH_LC_SEGMENT_64 : DZCRASH_LC_SEGMENT;
  for (const void* cmd = DZcrash_async_macho_find_command(&image, type); cmd != nullptr;
       cmd = DZcrash_async_macho_next_command_type(&image, cmd, type)) {
    uint64_t vmaddr, vmsize, fileoff, filesize;
    const size_t commandSize =
        image.m64 ? sizeof(dzcrash_macho_segment_command_64) : sizeof(dzcrash_macho_segment_command);
    if (!DZcrash_async_mobject_verify_local_pointer(&image.load_cmds, reinterpret_cast<uintptr_t>(cmd), 0,
                                                    commandSize)) {
      continue;
    }
    if (image.m64) {
      dzcrash_macho_segment_command_64 seg;
      DZcrash_async_memcpy(&seg, cmd, sizeof(seg));
      vmaddr = image.byteorder->swap64(seg.vmaddr);
      vmsize = image.byteorder->swap64(seg.vmsize);
      fileoff = image.byteorder->swap64(seg.fileoff);
      filesize = image.byteorder->swap64(seg.filesize);
    } else {
      dzcrash_macho_segment_command seg;
      DZcrash_async_memcpy(&seg, cmd, sizeof(seg));
      vmaddr = image.byteorder->swap32(seg.vmaddr);
      vmsize = image.byteorder->swap32(seg.vmsize);
      fileoff = image.byteorder->swap32(seg.fileoff);
      filesize = image.byteorder->swap32(seg.filesize);
    }
    if (filesize == 0 || fileoff >= bytes.size()) continue;
    if (filesize > bytes.size() - fileoff) filesize = bytes.size() - fileoff;
    const uint64_t length = vmsize > filesize && vmsize <= kMaxZeroFill ? vmsize : filesize;
    std::vector<uint8_t> segment(length, 0);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(fileoff), std::min(filesize, length),
                segment.begin());
    file->segments_.push_back(std::move(segment));
    file->regions_.push_back({vmaddr + static_cast<uint64_t>(slide), nullptr, length, true});
  }
  DZcrash_nasync_macho_free(&image);
  for (size_t i = 0; i < file->regions_.size(); ++i) file->regions_[i].bytes = file->segments_[i].data();
  DZcrash_task_init_buffer(&file->task_, file->regions_.data(), file->regions_.size());
  file->headerAddress_ = headerAddress;
  return file;
}

std::unique_ptr<DZCrashMachOFile> DZCrashMachOFile::load(const std::string& path, uint64_t header_address,
                                                         std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return nullptr;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return fromBytes(std::move(bytes), header_address, error);
}

}  // namespace dzcrash
