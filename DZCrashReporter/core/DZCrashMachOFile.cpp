#include "DZCrashReporter/core/DZCrashMachOFile.h"

#include <sys/mman.h>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"

namespace dzcrash {

namespace {

struct SegmentLayout {
  uint64_t vmaddr, vmsize, fileoff, filesize;
};

// The segment command's fields in host order, or false when the command is cut short.
bool readSegment(const dzcrash_async_macho& image, const void* cmd, SegmentLayout* out) {
  const size_t commandSize =
      image.m64 ? sizeof(dzcrash_macho_segment_command_64) : sizeof(dzcrash_macho_segment_command);
  if (!DZcrash_async_mobject_verify_local_pointer(&image.load_cmds, reinterpret_cast<uintptr_t>(cmd), 0,
                                                  commandSize)) {
    return false;
  }
  const dzcrash_async_byteorder_t* bo = image.byteorder;
  if (image.m64) {
    dzcrash_macho_segment_command_64 seg;
    DZcrash_async_memcpy(&seg, cmd, sizeof(seg));
    *out = {bo->swap64(seg.vmaddr), bo->swap64(seg.vmsize), bo->swap64(seg.fileoff),
            bo->swap64(seg.filesize)};
  } else {
    dzcrash_macho_segment_command seg;
    DZcrash_async_memcpy(&seg, cmd, sizeof(seg));
    *out = {bo->swap32(seg.vmaddr), bo->swap32(seg.vmsize), bo->swap32(seg.fileoff),
            bo->swap32(seg.filesize)};
  }
  return true;
}

}  // namespace

DZCrashMachOFile::~DZCrashMachOFile() {
  if (zeros_ != nullptr) munmap(zeros_, zerosLength_);
}

std::unique_ptr<DZCrashMachOFile> DZCrashMachOFile::fromBytes(std::vector<uint8_t> bytes,
                                                              uint64_t header_address, std::string* error,
                                                              uint64_t max_zero_fill) {
  std::unique_ptr<DZCrashMachOFile> file(new DZCrashMachOFile());
  file->bytes_ = std::move(bytes);
  const std::vector<uint8_t>& data = file->bytes_;

  // Parse the load commands where they lie in the file (right after the header) to learn the layout.
  const dzcrash_task_region flat = {0, data.data(), data.size(), true};
  dzcrash_task flatTask;
  DZcrash_task_init_buffer(&flatTask, &flat, 1);
  dzcrash_async_macho image;
  const dzcrash_error_t err = DZcrash_nasync_macho_init(&image, &flatTask, "", 0);
  if (err != DZCRASH_OK) {
    *error = std::string("not a loadable Mach-O image: ") + DZcrash_async_strerror(err);
    return nullptr;
  }
  const uint64_t headerAddress = header_address == kAtTextVmaddr ? image.text_vmaddr : header_address;
  const uint64_t slide = headerAddress - image.text_vmaddr;

  // Each segment shows as its file bytes, then (within the budget) its zero fill.
  std::vector<size_t> zeroRegions;
  uint64_t zeroBudget = max_zero_fill;
  const uint32_t type = image.m64 ? DZCRASH_LC_SEGMENT_64 : DZCRASH_LC_SEGMENT;
  for (const void* cmd = DZcrash_async_macho_find_command(&image, type); cmd != nullptr;
       cmd = DZcrash_async_macho_next_command_type(&image, cmd, type)) {
    SegmentLayout seg;
    if (!readSegment(image, cmd, &seg)) continue;
    if (seg.filesize == 0 || seg.fileoff >= data.size()) continue;
    const uint64_t filesize = std::min(seg.filesize, data.size() - seg.fileoff);
    const uint64_t address = seg.vmaddr + slide;
    file->regions_.push_back({address, data.data() + seg.fileoff, filesize, true});
    const uint64_t zeroFill = seg.vmsize > filesize ? seg.vmsize - filesize : 0;
    if (zeroFill > 0 && zeroFill <= zeroBudget) {
      zeroBudget -= zeroFill;
      file->zerosLength_ = std::max(file->zerosLength_, zeroFill);
      zeroRegions.push_back(file->regions_.size());
      file->regions_.push_back({address + filesize, nullptr, zeroFill, true});
    }
  }
  DZcrash_nasync_macho_free(&image);

  if (file->zerosLength_ > 0) {
    void* zeros =
        mmap(nullptr, file->zerosLength_, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (zeros == MAP_FAILED) {
      *error = "cannot map the zero fill";
      return nullptr;
    }
    file->zeros_ = zeros;
    for (const size_t i : zeroRegions) file->regions_[i].bytes = zeros;
  }
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
