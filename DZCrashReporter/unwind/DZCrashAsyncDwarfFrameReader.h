#pragma once

// Finding the FDE that covers an address: a linear scan of a whole __eh_frame / .eh_frame or
// __debug_frame section, or, for ELF images, a binary search of the sorted table in .eh_frame_hdr.
// Everything reads through dwarf_sections and allocates nothing; async-signal-safe.

#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFDE.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"

namespace dzcrash::async {

// One entry of a frame section, as a scan meets it.
struct dwarf_frame_entry {
  // Of the length field, from the section start.
  uint64_t offset;
  // The length field's value; 0 marks the terminator.
  uint64_t length;
  // Where the next entry begins, from the section start.
  uint64_t next_offset;
  // The id (CIE) or CIE pointer (FDE) field.
  uint64_t id;
  bool is_terminator;
  bool is_cie;
};

class dwarf_frame_reader {
 public:
  // The section must outlive the reader. m64 picks the 64-bit instances (addresses of 8 bytes).
  dzcrash_error_t init(dwarf_section* section, const dzcrash_async_byteorder_t* byteorder, bool m64,
                       bool debug_frame);

  // The first FDE from section start + offset whose range holds pc. CIEs are passed over, and so is an
  // FDE that does not parse (one damaged entry must not hide the rest). DZCRASH_NOT_FOUND at the
  // terminator or the section's end; DZCRASH_INVALID_ARGUMENT for a start outside the section or an
  // entry header that cannot be read.
  dzcrash_error_t find_fde(int64_t offset, uint64_t pc, dzcrash_async_dwarf_fde_info* fde);

  // The entry header at `offset`. DZCRASH_INVALID_ARGUMENT when it cannot be read or the next entry's
  // offset wraps.
  dzcrash_error_t read_entry(uint64_t offset, dwarf_frame_entry* entry);

  // The FDE and its CIE whose length field lies at section start + offset.
  dzcrash_error_t parse_fde(uint64_t offset, dzcrash_async_dwarf_fde_info* fde,
                            dzcrash_async_dwarf_cie_info* cie);

  // CIEs parsed by parse_fde and find_fde are kept in, and taken from, `cache` (null: none).
  void set_cie_cache(dwarf_cie_cache* cache) { cie_cache_ = cache; }

  dwarf_section* section() const { return section_; }
  const dzcrash_async_byteorder_t* byteorder() const { return byteorder_; }
  bool is_64bit() const { return m64_; }
  bool is_debug_frame() const { return debug_frame_; }

 private:
  dwarf_section* section_ = nullptr;
  const dzcrash_async_byteorder_t* byteorder_ = nullptr;
  bool m64_ = false;
  bool debug_frame_ = false;
  dwarf_cie_cache* cie_cache_ = nullptr;
};

// The .eh_frame_hdr section of an ELF image: version 1, the encoded address of .eh_frame, and usually
// a table of (initial location, FDE address) pairs sorted by location, encoded relative to the
// header's own address.
class dwarf_eh_frame_hdr {
 public:
  // Reads the header at [address, address + size) of the task. DZCRASH_INVALID_ARGUMENT for another
  // version or a header that cannot be read or decoded. A header without a usable table (none, or one
  // in a variable-size encoding) still gives the .eh_frame address.
  dzcrash_error_t init(dzcrash_task_t task, uint64_t address, uint64_t size,
                       const dzcrash_async_byteorder_t* byteorder, bool m64);

  uint64_t eh_frame_address() const { return eh_frame_address_; }
  bool has_table() const { return table_entry_size_ != 0; }
  uint64_t fde_count() const { return fde_count_; }

  // The table's entry at index: the FDE's initial location and its task address.
  dzcrash_error_t entry(uint64_t index, uint64_t* initial_location, uint64_t* fde_address);

  // Binary search: the address of the FDE of the last entry whose location is at or below pc.
  // DZCRASH_NOT_FOUND below the first entry or in an empty table, DZCRASH_NOT_SUPPORTED without a
  // usable table. Whether pc lies inside that FDE is for the caller to check.
  dzcrash_error_t find(uint64_t pc, uint64_t* fde_address);

 private:
  // The location (second = false) or FDE address (second = true) of a table entry.
  dzcrash_error_t field(uint64_t index, bool second, uint64_t* value);
  // A table entry's location, as the search reads it.
  dzcrash_error_t location(uint64_t index, uint64_t* value);
  template <typename machine_ptr>
  dzcrash_error_t decode(uint64_t offset, uint8_t encoding, uint64_t* value, uint64_t* size);

  dwarf_section section_;
  const dzcrash_async_byteorder_t* byteorder_ = nullptr;
  bool m64_ = false;
  uint64_t eh_frame_address_ = 0;
  uint64_t fde_count_ = 0;
  uint64_t table_offset_ = 0;
  uint8_t table_encoding_ = 0;
  uint64_t table_entry_size_ = 0;
};

}  // namespace dzcrash::async
