// libFuzzer target: the Mach-O load-command walk, segment and section mapping, symbol lookup and task
// strings over arbitrary bytes in a buffer task. Any fault, leak or sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"

using namespace dzcrash;

namespace {

constexpr uint64_t kBase = 0x100000;

void ignore(uint64_t, const char*, void*) {}

void exercise(dzcrash_async_macho* image) {
  size_t commands = 0;
  for (const void* cmd = DZcrash_async_macho_next_command(image, nullptr);
       cmd != nullptr && commands < 100000; cmd = DZcrash_async_macho_next_command(image, cmd)) {
    ++commands;
  }
  for (const char* segment : {"__TEXT", "__DATA", "__LINKEDIT"}) {
    dzcrash_async_macho_mapped_segment seg;
    if (DZcrash_async_macho_map_segment(image, segment, &seg) == DZCRASH_OK) {
      DZcrash_async_macho_mapped_segment_free(&seg);
    }
  }
  for (const char* section : {"__text", "__unwind_info", "__eh_frame"}) {
    dzcrash_async_mobject mobj;
    if (DZcrash_async_macho_map_section(image, "__TEXT", section, &mobj) == DZCRASH_OK) {
      DZcrash_async_mobject_free(&mobj);
    }
  }
  for (const uint64_t offset : {0ull, 0x10ull, 0x500ull, 0x1000ull, 0x4000ull, 0xFFFFFFFFull}) {
    DZcrash_async_macho_find_symbol_by_pc(image, image->header_addr + offset, ignore, nullptr);
  }
  uint64_t address = 0;
  DZcrash_async_macho_find_symbol_by_name(image, "_fx_frame", &address);
  dzcrash_async_macho_string string;
  DZcrash_async_macho_string_init(&string, image, image->header_addr + 0x20);
  size_t length = 0;
  DZcrash_async_macho_string_get_length(&string, &length);
  DZcrash_async_macho_string_free(&string);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const dzcrash_task_region region = {kBase, bytes.data(), bytes.size(), true};
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, &region, 1);
  dzcrash_async_macho image;
  if (DZcrash_nasync_macho_init(&image, &task, "fuzz", kBase) == DZCRASH_OK) {
    exercise(&image);
    DZcrash_nasync_macho_free(&image);
  }

  // The same bytes laid out as a loader would place them.
  std::string error;
  auto file = DZCrashMachOFile::fromBytes(bytes, kBase, &error);
  if (file != nullptr &&
      DZcrash_nasync_macho_init(&image, file->task(), "fuzz", file->headerAddress()) == DZCRASH_OK) {
    exercise(&image);
    DZcrash_nasync_macho_free(&image);
  }
  return 0;
}
