// libFuzzer target: compact unwind information over arbitrary bytes. The input is an __unwind_info
// section; it is opened for every processor with compact unwinding, looked up at addresses taken from
// its own index and from fixed edges, and every encoding found (and every word of the input, as an
// encoding) is decoded and applied to a state whose stack and code are the input's bytes in a buffer
// task. Any fault, leak or sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncMObject.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/unwind/DZCrashAsyncCompactUnwind.h"

using namespace dzcrash;

namespace {

constexpr uint64_t kSectionAddress = 0x100000;
constexpr uint64_t kCodeAddress = 0x200000;
constexpr uint64_t kStackAddress = 0x300000;
constexpr size_t kStackSize = 4096;

struct Memory {
  std::vector<uint8_t> code;
  std::vector<uint8_t> stack;
  dzcrash_task_region regions[2];
  dzcrash_task task;
};

void decodeAndApply(const Memory& memory, uint32_t cpu, uint32_t encoding, uint64_t functionOffset) {
  dzcrash_async_cfe_entry entry;
  if (DZcrash_async_cfe_entry_init(&entry, cpu, encoding) != DZCRASH_OK) return;
  uint32_t registers[DZCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];
  DZcrash_async_cfe_entry_register_list(&entry, registers);

  // Every state the walker can hand over: x86-64 and x86, with all registers known or only some.
  for (const uint32_t stateCpu : {DZCRASH_CPU_TYPE_X86_64, DZCRASH_CPU_TYPE_X86}) {
    dzcrash_async_thread_state current;
    DZcrash_async_thread_state_init(&current, stateCpu);
    const size_t count = DZcrash_async_thread_state_get_reg_count(&current);
    for (uint32_t r = 0; r < count; ++r)
      DZcrash_async_thread_state_set_reg(&current, r, kStackAddress + 8 * r);
    DZcrash_async_thread_state_set_reg(&current, DZCRASH_REG_SP, kStackAddress + (encoding & 0x7F8));
    DZcrash_async_thread_state_set_reg(&current, DZCRASH_REG_FP, kStackAddress + kStackSize / 2);
    if ((encoding & 0x80000000u) != 0) DZcrash_async_thread_state_clear_reg(&current, DZCRASH_REG_SP);
    dzcrash_async_thread_state next;
    DZcrash_async_cfe_entry_apply(&memory.task, kCodeAddress + (functionOffset & 0xFFF), &current, &entry,
                                  &next);
  }
  DZcrash_async_cfe_entry_free(&entry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const dzcrash_task_region sectionRegion = {kSectionAddress, bytes.data(), bytes.size(), true};
  dzcrash_task sectionTask;
  DZcrash_task_init_buffer(&sectionTask, &sectionRegion, 1);

  Memory memory;
  memory.code.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size < 4096 ? size : 4096));
  memory.stack.assign(kStackSize, 0);
  for (size_t i = 0; i < kStackSize && size > 0; ++i) memory.stack[i] = data[(i * 7) % size];
  memory.regions[0] = {kCodeAddress, memory.code.data(), memory.code.size(), true};
  memory.regions[1] = {kStackAddress, memory.stack.data(), memory.stack.size(), true};
  DZcrash_task_init_buffer(&memory.task, memory.regions, 2);

  dzcrash_async_mobject section;
  if (size > 0 &&
      DZcrash_async_mobject_init(&section, &sectionTask, kSectionAddress, size, true) == DZCRASH_OK) {
    for (const uint32_t cpu : {DZCRASH_CPU_TYPE_X86_64, DZCRASH_CPU_TYPE_X86, DZCRASH_CPU_TYPE_ARM64}) {
      dzcrash_async_cfe_reader reader;
      if (DZcrash_async_cfe_reader_init(&reader, &section, cpu) != DZCRASH_OK) continue;
      std::vector<uint64_t> targets = {0, 1, 0xFFF, 0x1000, 0xFFFFFFFFull, 0x100000000ull, UINT64_MAX};
      // Around every first-level entry the index claims (bounded: the index may lie).
      for (uint32_t i = 0; i < reader.header.index_count && i < 64; ++i) {
        const uint64_t at = uint64_t{reader.header.index_offset} + 12 * i;
        if (at + 4 > size) break;
        uint32_t offset;
        std::memcpy(&offset, data + at, 4);
        targets.insert(targets.end(), {offset - 1ull, offset, offset + 1ull, offset + 0x40ull});
      }
      for (const uint64_t target : targets) {
        uint64_t functionOffset = 0;
        uint32_t encoding = 0;
        if (DZcrash_async_cfe_reader_find_pc(&reader, target, &functionOffset, &encoding) == DZCRASH_OK) {
          decodeAndApply(memory, cpu, encoding, functionOffset);
        }
      }
      DZcrash_async_cfe_reader_free(&reader);
    }
    DZcrash_async_mobject_free(&section);
  }

  // The input's words as encodings and permutations.
  for (size_t at = 0; at + 4 <= size && at < 256; at += 4) {
    uint32_t word;
    std::memcpy(&word, data + at, 4);
    for (const uint32_t cpu : {DZCRASH_CPU_TYPE_X86_64, DZCRASH_CPU_TYPE_X86, DZCRASH_CPU_TYPE_ARM64}) {
      decodeAndApply(memory, cpu, word, word >> 12);
    }
    uint32_t registers[6];
    const uint32_t count = (word >> 10) & 7;
    if (DZcrash_async_cfe_register_decode(word & 0x3FF, count, registers) == DZCRASH_OK) {
      DZcrash_async_cfe_register_encode(registers, count);
    }
  }
  return 0;
}
