// libFuzzer target: DWARF call-frame information over arbitrary bytes. The input is read as an
// __eh_frame section and as a __debug_frame section, in 64-bit and 32-bit instances: every entry the
// scan meets is parsed, every FDE's programs are run (whole and up to a few addresses) and the rules
// applied to a state whose stack is the input again; the input is also searched as an .eh_frame_hdr
// and evaluated as an expression. Any fault, leak, hang or sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/core/DZCrashAsyncTaskCache.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCFAState.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfExpression.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFrameReader.h"

using namespace dzcrash;
using namespace dzcrash::async;

namespace {

constexpr uint64_t kSection = 0x100000;
constexpr uint64_t kStack = 0x300000;
// Entries and FDEs looked at per input, so that one run stays quick.
constexpr int kMaxEntries = 64;

const dzcrash_async_byteorder_t* le() {
  return DZcrash_async_byteorder_little_endian();
}

template <typename machine_ptr, typename machine_ptr_s>
void runFde(dzcrash_task_t task, dwarf_section* section, const dzcrash_async_dwarf_fde_info& fde,
            const dzcrash_async_dwarf_cie_info& cie, const dzcrash_async_thread_state& current) {
  const gnu_ehptr_reader<machine_ptr> pointers(le());
  const machine_ptr targets[] = {0, static_cast<machine_ptr>(fde.pc_start),
                                 static_cast<machine_ptr>(fde.pc_start + 7),
                                 static_cast<machine_ptr>(fde.pc_end - 1)};
  for (const machine_ptr target : targets) {
    dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
    if (state.eval_program(section, target, static_cast<machine_ptr>(fde.pc_start), &cie, &pointers, le(),
                           section->base_address(), cie.initial_instructions_offset,
                           cie.initial_instructions_length) != DZCRASH_OK) {
      continue;
    }
    if (state.eval_program(section, target, static_cast<machine_ptr>(fde.pc_start), &cie, &pointers, le(),
                           section->base_address(), fde.instructions_offset,
                           fde.instructions_length) != DZCRASH_OK) {
      continue;
    }
    dzcrash_async_thread_state next;
    state.apply_state(task, &cie, &current, le(), &next);
  }
}

void scan(dzcrash_task_t task, uint64_t size, bool m64, bool debugFrame,
          const dzcrash_async_thread_state& current) {
  dwarf_section section;
  if (section.init(task, kSection, size) != DZCRASH_OK) return;
  dwarf_frame_reader reader;
  reader.init(&section, le(), m64, debugFrame);
  uint64_t offset = 0;
  for (int n = 0; n < kMaxEntries && offset < size; ++n) {
    dwarf_frame_entry entry;
    if (reader.read_entry(offset, &entry) != DZCRASH_OK || entry.next_offset <= offset) break;
    if (!entry.is_cie && !entry.is_terminator) {
      dzcrash_async_dwarf_fde_info fde;
      dzcrash_async_dwarf_cie_info cie;
      if (reader.parse_fde(offset, &fde, &cie) == DZCRASH_OK) {
        if (m64) {
          runFde<uint64_t, int64_t>(task, &section, fde, cie, current);
        } else {
          runFde<uint32_t, int32_t>(task, &section, fde, cie, current);
        }
        dzcrash_async_dwarf_fde_info found;
        reader.find_fde(0, fde.pc_start, &found);
      }
    }
    offset = entry.next_offset;
  }
  dzcrash_async_dwarf_fde_info found;
  reader.find_fde(0, 0x1000, &found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::vector<uint8_t> bytes(data, data + size);
  std::vector<uint8_t> stack(4096, 0);
  for (size_t i = 0; i < stack.size(); ++i) stack[i] = data[(i * 13) % size];
  const dzcrash_task_region regions[] = {
      {kSection, bytes.data(), bytes.size(), true},
      {kStack, stack.data(), stack.size(), true},
  };
  dzcrash_task buffer;
  DZcrash_task_init_buffer(&buffer, regions, 2);
  // Read as a walk reads: through a page cache.
  dzcrash_task_cache cache;
  DZcrash_task_cache_init(&cache, &buffer);
  dzcrash_task task;
  DZcrash_task_init_cached(&task, &cache);

  dzcrash_async_thread_state current;
  DZcrash_async_thread_state_init(&current, DZCRASH_CPU_TYPE_X86_64);
  for (uint32_t r = 0; r < DZCRASH_X86_64_REG_COUNT; ++r) {
    DZcrash_async_thread_state_set_reg(&current, r, kStack + 64 * (r % 8));
  }
  if ((data[0] & 1) != 0) DZcrash_async_thread_state_clear_reg(&current, DZCRASH_X86_64_RBX);

  for (const bool m64 : {true, false}) {
    for (const bool debugFrame : {false, true}) scan(&task, size, m64, debugFrame, current);
    dwarf_eh_frame_hdr hdr;
    if (hdr.init(&task, kSection, size, le(), m64) == DZCRASH_OK) {
      uint64_t fde = 0;
      for (const uint64_t pc : {uint64_t{0}, uint64_t{0x1000}, hdr.eh_frame_address(), UINT64_MAX}) {
        hdr.find(pc, &fde);
      }
    }
  }

  // The input as an expression block, with the CFA-like value the rules start from.
  dwarf_section block;
  if (block.init(&task, kSection, size) == DZCRASH_OK) {
    const uint64_t initial = kStack + 128;
    uint64_t result = 0;
    dzcrash_async_dwarf_expression_eval<uint64_t, int64_t>(&block, &task, &current, le(), kSection, 0, size,
                                                           &initial, 1, &result);
    const uint32_t initial32 = static_cast<uint32_t>(initial);
    uint32_t result32 = 0;
    dzcrash_async_dwarf_expression_eval<uint32_t, int32_t>(&block, &task, &current, le(), kSection, 0, size,
                                                           &initial32, 1, &result32);
  }
  return 0;
}
