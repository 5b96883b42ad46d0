// libFuzzer target: the ELF reader (program headers, notes, dynamic section, hash tables, symbol
// lookup) over arbitrary bytes in a buffer task. Any fault, leak or sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"

using namespace dzcrash;

namespace {

constexpr uint64_t kBase = 0x100000;

void ignore(uint64_t, const char*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const dzcrash_task_region region = {kBase, bytes.data(), bytes.size(), true};
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, &region, 1);
  dzcrash_async_elf image;
  if (DZcrash_nasync_elf_init(&image, &task, "fuzz", kBase) != DZCRASH_OK) return 0;
  uint64_t type = 0;
  uint64_t subtype = 0;
  DZcrash_async_elf_processor(&image, &type, &subtype);
  for (const uint64_t pc : {kBase, kBase + 0x40, kBase + size / 2, kBase + size, UINT64_MAX}) {
    DZcrash_async_elf_contains_address(&image, pc);
    DZcrash_async_elf_find_symbol_by_pc(&image, pc, ignore, nullptr);
  }
  DZcrash_nasync_elf_free(&image);
  return 0;
}
