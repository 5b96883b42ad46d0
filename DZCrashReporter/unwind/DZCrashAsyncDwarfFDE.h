#pragma once

// A Frame Description Entry: the address range of one function and the call-frame program that
// describes it, with the CIE it builds on. Parsing reads the section through a dwarf_section and
// allocates nothing; async-signal-safe.

#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCIE.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"

namespace dzcrash::async {

struct dzcrash_async_dwarf_fde_info {
  // Of the content (after the length field), from the section start.
  uint64_t fde_offset;
  // The length field's value.
  uint64_t fde_length;
  // Of the CIE's length field, from the section start.
  uint64_t cie_offset;
  // [pc_start, pc_end): the code the FDE describes.
  uint64_t pc_start;
  uint64_t pc_end;
  // From the section start.
  uint64_t instructions_offset;
  uint64_t instructions_length;
};

// Parses the FDE whose length field lies at `address`, and the CIE it names (with no pointer bases),
// whose 'R' encoding gives the address fields. In __debug_frame (debug_frame) the CIE pointer is an
// offset from the section start; in __eh_frame it is the distance back from the pointer field.
// DZCRASH_INVALID_ARGUMENT for a CIE pointer outside the section, an address range that wraps or an
// FDE that does not fit in the section; the CIE's and the reads' errors as they are.
template <typename machine_ptr>
dzcrash_error_t dzcrash_async_dwarf_fde_info_init(dzcrash_async_dwarf_fde_info* info, dwarf_section* section,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  uint64_t address, bool debug_frame);

// The same, when the caller wants the FDE's CIE as well (the frame reader runs its program). With a
// cache, a CIE parsed before is taken from it and a new parse is kept in it.
template <typename machine_ptr>
dzcrash_error_t dzcrash_async_dwarf_fde_info_init_with_cie(dzcrash_async_dwarf_fde_info* info,
                                                           dzcrash_async_dwarf_cie_info* cie,
                                                           dwarf_section* section,
                                                           const dzcrash_async_byteorder_t* byteorder,
                                                           uint64_t address, bool debug_frame,
                                                           dwarf_cie_cache* cie_cache = nullptr);

uint64_t dzcrash_async_dwarf_fde_info_instructions_offset(const dzcrash_async_dwarf_fde_info* info);
uint64_t dzcrash_async_dwarf_fde_info_instructions_length(const dzcrash_async_dwarf_fde_info* info);

// Nothing to release; kept so that every parse ends in one place.
void dzcrash_async_dwarf_fde_info_free(dzcrash_async_dwarf_fde_info* info);

}  // namespace dzcrash::async
