#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFDE.h"

#include <limits>

namespace dzcrash::async {

// async-signal-safe.
template <typename machine_ptr>
dzcrash_error_t dzcrash_async_dwarf_fde_info_init_with_cie(dzcrash_async_dwarf_fde_info* info,
                                                           dzcrash_async_dwarf_cie_info* cie,
                                                           dwarf_section* section,
                                                           const dzcrash_async_byteorder_t* byteorder,
                                                           uint64_t address, bool debug_frame,
                                                           dwarf_cie_cache* cie_cache) {
  DZcrash_async_memset(info, 0, sizeof(*info));
  dzcrash_async_dwarf_entry_span span;
  dzcrash_error_t err = dzcrash_async_dwarf_read_entry_span(section, byteorder, address, &span);
  if (err != DZCRASH_OK) return err;
  const bool m64 = span.m64;
  int64_t pos = static_cast<int64_t>(span.content - address);
  const uint64_t content = span.content;
  info->fde_offset = content - section->base_address();
  info->fde_length = span.length;
  const uint64_t end = span.end;

  // The CIE pointer, and from it the CIE, which must lie in the same section.
  const uint8_t pointerSize = m64 ? 8 : 4;
  uint64_t cieRef = 0;
  if ((err = dzcrash_async_dwarf_read_uintmax64(section, byteorder, address, pos, pointerSize, &cieRef)) !=
      DZCRASH_OK) {
    return err;
  }
  uint64_t cieAddress = 0;
  if (debug_frame) {
    if (__builtin_add_overflow(section->base_address(), cieRef, &cieAddress)) return DZCRASH_INVALID_ARGUMENT;
  } else {
    if (cieRef > content) return DZCRASH_INVALID_ARGUMENT;
    cieAddress = content - cieRef;
  }
  if (!section->contains(cieAddress, 0, 4)) return DZCRASH_INVALID_ARGUMENT;
  info->cie_offset = cieAddress - section->base_address();
  pos += pointerSize;

  const gnu_ehptr_reader<machine_ptr> reader(byteorder);
  constexpr bool kM64 = sizeof(machine_ptr) == 8;
  const dzcrash_async_dwarf_cie_info* known =
      cie_cache != nullptr ? cie_cache->find(section, byteorder, kM64, cieAddress) : nullptr;
  if (known != nullptr) {
    *cie = *known;
  } else {
    if ((err = dzcrash_async_dwarf_cie_info_init<machine_ptr>(cie, section, byteorder, &reader,
                                                              cieAddress)) != DZCRASH_OK) {
      return err;
    }
    if (cie_cache != nullptr) cie_cache->insert(section, byteorder, kM64, cieAddress, *cie);
  }
  const uint8_t encoding = cie->has_eh_augmentation && cie->eh_augmentation.has_pointer_encoding
                               ? cie->eh_augmentation.pointer_encoding
                               : static_cast<uint8_t>(DW_EH_PE_absptr);

  // The start in the full encoding; the range in its value format alone.
  machine_ptr start = 0;
  uint64_t size = 0;
  if ((err = reader.read(section, address, pos, encoding, &start, &size)) != DZCRASH_OK) return err;
  pos += static_cast<int64_t>(size);
  machine_ptr range = 0;
  if ((err = reader.read(section, address, pos, encoding & DW_EH_PE_FORMAT_MASK, &range, &size)) !=
      DZCRASH_OK) {
    return err;
  }
  pos += static_cast<int64_t>(size);
  if (range > std::numeric_limits<machine_ptr>::max() - start) return DZCRASH_INVALID_ARGUMENT;
  info->pc_start = start;
  info->pc_end = static_cast<uint64_t>(start) + range;

  if (cie->has_eh_augmentation) {
    uint64_t dataLength = 0;
    if ((err = dzcrash_async_dwarf_read_uleb128(section, address, pos, &dataLength, &size)) != DZCRASH_OK) {
      return err;
    }
    pos += static_cast<int64_t>(size);
    if (!section->contains(address, pos, dataLength)) return DZCRASH_INVALID_ARGUMENT;
    pos += static_cast<int64_t>(dataLength);
  }

  const uint64_t instructions = address + static_cast<uint64_t>(pos);
  if (instructions > end) return DZCRASH_INVALID_ARGUMENT;
  info->instructions_offset = instructions - section->base_address();
  info->instructions_length = end - instructions;
  return DZCRASH_OK;
}

// async-signal-safe.
template <typename machine_ptr>
dzcrash_error_t dzcrash_async_dwarf_fde_info_init(dzcrash_async_dwarf_fde_info* info, dwarf_section* section,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, bool debug_frame) {
  dzcrash_async_dwarf_cie_info cie;
  return dzcrash_async_dwarf_fde_info_init_with_cie<machine_ptr>(info, &cie, section, byteorder, address,
                                                                 debug_frame);
}

uint64_t dzcrash_async_dwarf_fde_info_instructions_offset(const dzcrash_async_dwarf_fde_info* info) {
  return info->instructions_offset;
}

uint64_t dzcrash_async_dwarf_fde_info_instructions_length(const dzcrash_async_dwarf_fde_info* info) {
  return info->instructions_length;
}

void dzcrash_async_dwarf_fde_info_free(dzcrash_async_dwarf_fde_info*) {}

#define DZCRASH_INSTANTIATE_FDE(word)                                                                   \
  template dzcrash_error_t dzcrash_async_dwarf_fde_info_init<word>(                                     \
      dzcrash_async_dwarf_fde_info*, dwarf_section*, const dzcrash_async_byteorder_t*, uint64_t, bool); \
  template dzcrash_error_t dzcrash_async_dwarf_fde_info_init_with_cie<word>(                            \
      dzcrash_async_dwarf_fde_info*, dzcrash_async_dwarf_cie_info*, dwarf_section*,                     \
      const dzcrash_async_byteorder_t*, uint64_t, bool, dwarf_cie_cache*);
DZCRASH_INSTANTIATE_FDE(uint32_t)
DZCRASH_INSTANTIATE_FDE(uint64_t)
#undef DZCRASH_INSTANTIATE_FDE

}  // namespace dzcrash::async
