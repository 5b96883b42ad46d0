#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCFAState.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFrameReader.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalkMemo.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash {

namespace {

using async::dwarf_cfa_state;
using async::dwarf_eh_frame_hdr;
using async::dwarf_frame_reader;
using async::dwarf_section;
using async::dzcrash_async_dwarf_cie_info;
using async::dzcrash_async_dwarf_fde_info;
using async::gnu_ehptr_reader;

// Where an image keeps its call-frame information.
struct FrameSection {
  uint64_t address = 0;
  uint64_t length = 0;
  bool debugFrame = false;
  // ELF: the .eh_frame_hdr to search first (address 0 when there is none).
  uint64_t hdrAddress = 0;
  uint64_t hdrSize = 0;
  bool m64 = false;
  const dzcrash_async_byteorder_t* byteorder = nullptr;
};

// DZFRAME_NO_FRAME when the image has no call-frame information.
dzframe_error_t locate(const dzcrash_async_image* image, FrameSection* out) {
  if (image->format == DZCRASH_IMAGE_FORMAT_ELF) {
    const auto* elf = static_cast<const dzcrash_async_elf*>(image->parsed);
    if (elf->eh_frame_address == 0 || elf->eh_frame_segment_end <= elf->eh_frame_address) {
      return DZFRAME_NO_FRAME;
    }
    out->address = elf->eh_frame_address;
    out->length = elf->eh_frame_segment_end - elf->eh_frame_address;
    out->hdrAddress = elf->eh_frame_hdr_address;
    out->hdrSize = elf->eh_frame_hdr_size;
    // The ELF reader takes 64-bit little-endian images only.
    out->m64 = true;
    out->byteorder = DZcrash_async_byteorder_little_endian();
    return DZFRAME_OK;
  }
  if (image->format == DZCRASH_IMAGE_FORMAT_MACHO) {
    const auto* macho = static_cast<const dzcrash_async_macho*>(image->parsed);
    out->m64 = macho->m64;
    out->byteorder = DZcrash_async_macho_byteorder(macho);
    if (DZcrash_async_macho_find_section(macho, "__TEXT", "__eh_frame", &out->address, &out->length) ==
        DZCRASH_OK) {
      return DZFRAME_OK;
    }
    if (DZcrash_async_macho_find_section(macho, "__DWARF", "__debug_frame", &out->address, &out->length) ==
        DZCRASH_OK) {
      out->debugFrame = true;
      return DZFRAME_OK;
    }
    return DZFRAME_NO_FRAME;
  }
  return DZFRAME_NOT_SUPPORTED;
}

// The FDE of pc and its CIE: through the header's table when the image has a usable one, else by a
// scan of the whole section. A walk's memo keeps the decoded header and the CIEs.
dzframe_error_t findFde(dzcrash_task_t task, dzframe_walk_memo* memo, const FrameSection& where,
                        dwarf_frame_reader* reader, uint64_t pc, dzcrash_async_dwarf_fde_info* fde,
                        dzcrash_async_dwarf_cie_info* cie) {
  if (where.hdrAddress != 0) {
    dwarf_eh_frame_hdr local;
    dwarf_eh_frame_hdr* hdr = nullptr;
    if (memo != nullptr) {
      hdr = DZframe_walk_memo_header(memo, task, where.hdrAddress, where.hdrSize, where.byteorder, where.m64);
    } else if (local.init(task, where.hdrAddress, where.hdrSize, where.byteorder, where.m64) == DZCRASH_OK &&
               local.has_table()) {
      hdr = &local;
    }
    if (hdr != nullptr) {
      uint64_t fdeAddress = 0;
      if (hdr->find(pc, &fdeAddress) != DZCRASH_OK || fdeAddress < where.address)
        return DZFRAME_NOT_SUPPORTED;
      if (reader->parse_fde(fdeAddress - where.address, fde, cie) != DZCRASH_OK) return DZFRAME_NOT_SUPPORTED;
      return fde->pc_start <= pc && pc < fde->pc_end ? DZFRAME_OK : DZFRAME_NOT_SUPPORTED;
    }
  }
  if (reader->find_fde(0, pc, fde) != DZCRASH_OK) return DZFRAME_NOT_SUPPORTED;
  // The CIE of the FDE the scan found, with no pointer bases, as the FDE itself was read.
  dwarf_section* section = reader->section();
  const uint64_t cieAddress = section->base_address() + fde->cie_offset;
  dzcrash_error_t err;
  if (where.m64) {
    const gnu_ehptr_reader<uint64_t> ptr(where.byteorder);
    err = async::dzcrash_async_dwarf_cie_info_init<uint64_t>(cie, section, where.byteorder, &ptr, cieAddress);
  } else {
    const gnu_ehptr_reader<uint32_t> ptr(where.byteorder);
    err = async::dzcrash_async_dwarf_cie_info_init<uint32_t>(cie, section, where.byteorder, &ptr, cieAddress);
  }
  return err == DZCRASH_OK ? DZFRAME_OK : DZFRAME_NOT_SUPPORTED;
}

// The caller's registers from the rules in `state`. async-signal-safe.
template <typename machine_ptr, typename machine_ptr_s>
dzframe_error_t applyRules(dzcrash_task_t task, const FrameSection& where,
                           dwarf_cfa_state<machine_ptr, machine_ptr_s>* state,
                           const dzcrash_async_dwarf_cie_info& cie, const dzcrash_async_thread_state* current,
                           dzcrash_async_thread_state* next) {
  if (state->apply_state(task, &cie, current, where.byteorder, next) != DZCRASH_OK) return DZFRAME_NO_FRAME;
  // The frame a signal interrupted resumes at its instruction pointer: no return-address adjustment.
  if (cie.has_eh_augmentation && cie.eh_augmentation.signal_frame) next->ip_is_exact = true;
  return DZFRAME_OK;
}

// The key of the row of pc in the frame section `where`; debug_frame sections are Mach-O's, whose
// sections have no header table, so the header address tells the kinds apart. async-signal-safe.
void setRowKey(dzframe_dwarf_row* row, const FrameSection& where, uint64_t pc) {
  row->section_address = where.address;
  row->section_length = where.length;
  row->header_address = where.debugFrame ? UINT64_MAX : where.hdrAddress;
  row->pc = pc;
  row->m64 = where.m64;
}

// Keeps the current rules of `state` as the row of (section, pc); a row with more rules than a memo
// row holds is not kept. async-signal-safe.
template <typename machine_ptr, typename machine_ptr_s>
void keepRow(dzframe_walk_memo* memo, const FrameSection& where, uint64_t pc,
             const dwarf_cfa_state<machine_ptr, machine_ptr_s>& state,
             const dzcrash_async_dwarf_cie_info& cie) {
  dzframe_dwarf_row row;
  setRowKey(&row, where, pc);
  row.signal_frame = cie.has_eh_augmentation && cie.eh_augmentation.signal_frame;
  row.return_address_register = cie.return_address_register;
  const auto cfa = state.get_cfa_rule();
  row.cfa_type = cfa.type;
  row.cfa_reg = cfa.reg;
  row.cfa_offset = cfa.offset;
  row.cfa_expression_address = cfa.expression_address;
  row.cfa_expression_length = cfa.expression_length;
  row.rule_count = 0;
  async::dwarf_cfa_state_iterator<machine_ptr, machine_ptr_s> it(&state);
  uint32_t regnum = 0;
  async::dzcrash_dwarf_cfa_reg_rule_t rule;
  machine_ptr value = 0;
  while (it.next(&regnum, &rule, &value)) {
    if (row.rule_count == dzframe_dwarf_row::kMaxRules) return;
    row.rules[row.rule_count++] = {value, regnum, rule};
  }
  DZframe_walk_memo_keep_row(memo, row);
}

// Unwinds with a row kept earlier: the same rule table, rebuilt in the order it was visited, so that
// applying it visits the registers as the first application did. async-signal-safe.
template <typename machine_ptr, typename machine_ptr_s>
dzframe_error_t applyRow(dzcrash_task_t task, const FrameSection& where, const dzframe_dwarf_row& row,
                         const dzcrash_async_thread_state* current, dzcrash_async_thread_state* next) {
  using state_t = dwarf_cfa_state<machine_ptr, machine_ptr_s>;
  state_t state;
  switch (row.cfa_type) {
    case state_t::CFA_TYPE_REGISTER:
      state.set_cfa_register(row.cfa_reg, static_cast<machine_ptr>(row.cfa_offset));
      break;
    case state_t::CFA_TYPE_REGISTER_SIGNED:
      state.set_cfa_register_signed(row.cfa_reg, static_cast<machine_ptr_s>(row.cfa_offset));
      break;
    case state_t::CFA_TYPE_EXPRESSION:
      state.set_cfa_expression(row.cfa_expression_address, row.cfa_expression_length);
      break;
    default:
      break;
  }
  for (uint8_t i = 0; i < row.rule_count; ++i) {
    const dzframe_dwarf_row::rule& r = row.rules[i];
    state.set_register(r.regnum, static_cast<async::dzcrash_dwarf_cfa_reg_rule_t>(r.type),
                       static_cast<machine_ptr>(r.value));
  }
  dzcrash_async_dwarf_cie_info cie;
  DZcrash_async_memset(&cie, 0, sizeof(cie));
  cie.return_address_register = row.return_address_register;
  cie.has_eh_augmentation = row.signal_frame;
  cie.eh_augmentation.signal_frame = row.signal_frame;
  return applyRules(task, where, &state, cie, current, next);
}

template <typename machine_ptr, typename machine_ptr_s>
dzframe_error_t evaluate(dzcrash_task_t task, dzframe_walk_memo* memo, const FrameSection& where,
                         dwarf_section* section, uint64_t pc, const dzcrash_async_dwarf_fde_info& fde,
                         const dzcrash_async_dwarf_cie_info& cie, const dzcrash_async_thread_state* current,
                         dzcrash_async_thread_state* next) {
  const gnu_ehptr_reader<machine_ptr> pointers(where.byteorder);
  dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
  const auto target = static_cast<machine_ptr>(pc);
  const auto start = static_cast<machine_ptr>(fde.pc_start);
  if (state.eval_program(section, target, start, &cie, &pointers, where.byteorder, section->base_address(),
                         cie.initial_instructions_offset, cie.initial_instructions_length) != DZCRASH_OK ||
      state.eval_program(section, target, start, &cie, &pointers, where.byteorder, section->base_address(),
                         fde.instructions_offset, fde.instructions_length) != DZCRASH_OK) {
    return DZFRAME_NOT_SUPPORTED;
  }
  if (memo != nullptr) keepRow(memo, where, pc, state, cie);
  return applyRules(task, where, &state, cie, current, next);
}

dzframe_error_t unwind(dzcrash_task_t task, const dzframe_image_lookup& lookup,
                       const dzcrash_async_thread_state* current, dzcrash_async_thread_state* next) {
  FrameSection where;
  const dzframe_error_t located = locate(lookup.image, &where);
  if (located != DZFRAME_OK) return located;
  const uint64_t pc = where.m64 ? lookup.address : lookup.address & UINT32_MAX;
  dzframe_walk_memo* memo = DZframe_walk_memo_of(task);
  if (memo != nullptr) {
    // A frame at an address an earlier frame of the walk was unwound from: the same rules.
    dzframe_dwarf_row key;
    setRowKey(&key, where, pc);
    const dzframe_dwarf_row* row = DZframe_walk_memo_find_row(memo, key);
    if (row != nullptr) {
      return where.m64 ? applyRow<uint64_t, int64_t>(task, where, *row, current, next)
                       : applyRow<uint32_t, int32_t>(task, where, *row, current, next);
    }
  }
  dwarf_section section;
  if (section.init(task, where.address, where.length) != DZCRASH_OK) return DZFRAME_INVALID_ARGUMENT;
  dwarf_frame_reader reader;
  if (reader.init(&section, where.byteorder, where.m64, where.debugFrame) != DZCRASH_OK) {
    return DZFRAME_INVALID_ARGUMENT;
  }
  if (memo != nullptr) reader.set_cie_cache(&memo->cies);
  dzcrash_async_dwarf_fde_info fde;
  dzcrash_async_dwarf_cie_info cie;
  const dzframe_error_t found = findFde(task, memo, where, &reader, pc, &fde, &cie);
  if (found != DZFRAME_OK) return found;
  return where.m64 ? evaluate<uint64_t, int64_t>(task, memo, where, &section, pc, fde, cie, current, next)
                   : evaluate<uint32_t, int32_t>(task, memo, where, &section, pc, fde, cie, current, next);
}

}  // namespace

dzframe_error_t DZframe_cursor_read_dwarf_unwind(dzcrash_task_t task, dzcrash_async_image_list* image_list,
                                                 const dzcrash_async_thread_state* current,
                                                 const dzcrash_async_thread_state* previous,
                                                 dzcrash_async_thread_state* next) {
  dzframe_image_lookup lookup;
  const dzframe_error_t found = DZframe_image_lookup_begin(&lookup, task, image_list, current, previous);
  if (found != DZFRAME_OK) return found;
  const dzframe_error_t result = unwind(task, lookup, current, next);
  DZframe_image_lookup_end(&lookup);
  return result;
}

}  // namespace dzcrash
