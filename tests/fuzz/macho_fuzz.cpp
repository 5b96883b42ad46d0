// libFuzzer target: the Mach-O load-command walk, segment and section mapping, symbol lookup, task
// strings, Objective-C metadata and the combined symbol lookup over arbitrary bytes in a buffer task.
// Any fault, leak or sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashAsyncObjC.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"

using namespace dzcrash;

namespace {

constexpr uint64_t kBase = 0x100000;
// The laid-out form shows at most this much zero fill: every segment mapping copies what it shows, and
// inputs that claim the default 64 MiB would spend their time copying zeros.
constexpr uint64_t kMaxZeroFill = 256 << 10;

void ignore(uint64_t, const char*, void*) {}

// Reads both names of every method, as the combined lookup does for the one it reports.
void readNames(bool, dzcrash_async_macho_string* cls, dzcrash_async_macho_string* method, uint64_t, void*) {
  const char* name = nullptr;
  DZcrash_async_macho_string_get_pointer(cls, &name);
  DZcrash_async_macho_string_get_pointer(method, &name);
}

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
  uint64_t address = 0;
  DZcrash_async_macho_find_symbol_by_name(image, "_fx_frame", &address);
  dzcrash_async_symbol_cache cache;
  DZcrash_async_symbol_cache_init(&cache);
  dzcrash_async_objc_parse(image, &cache, readNames, nullptr);
  // The combined lookup runs the symbol table's too: each of these walks the whole table once.
  for (const uint64_t offset : {0ull, 0x10ull, 0x700ull, 0x1000ull, 0x4000ull, 0xFFFFFFFFull}) {
    DZcrash_async_find_symbol(image, DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL, &cache, image->header_addr + offset,
                              ignore, nullptr);
  }
  DZcrash_async_symbol_cache_free(&cache);
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

  // The same bytes laid out as a loader would place them, at their own addresses: the pointers in an
  // image's Objective-C metadata are stored unslid.
  std::string error;
  auto file = DZCrashMachOFile::fromBytes(bytes, DZCrashMachOFile::kAtTextVmaddr, &error, kMaxZeroFill);
  if (file != nullptr &&
      DZcrash_nasync_macho_init(&image, file->task(), "fuzz", file->headerAddress()) == DZCRASH_OK) {
    exercise(&image);
    DZcrash_nasync_macho_free(&image);
  }
  return 0;
}
