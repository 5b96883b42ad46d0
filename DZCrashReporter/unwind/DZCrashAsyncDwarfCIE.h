#pragma once

// A Common Information Entry of __eh_frame / .eh_frame or __debug_frame / .debug_frame: what every FDE
// that names it shares (alignment factors, the return-address column, pointer encodings, the initial
// rules). Parsing reads the section through a dwarf_section and allocates nothing; async-signal-safe.

#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfEncoding.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"

namespace dzcrash::async {

// The length escape that announces the 64-bit format, and the header size it gives an entry.
constexpr uint32_t DZCRASH_DWARF_LENGTH_64 = 0xFFFFFFFFu;
constexpr uint64_t DZCRASH_DWARF_HEADER_64 = 12;

// The length field of the CIE or FDE at `address`: 32 bits, or the escape and 64 bits (the 64-bit
// format, whose id and CIE pointer fields are 8 bytes). header_size receives 4 or 12.
dzcrash_error_t dzcrash_async_dwarf_read_entry_length(dwarf_section* section,
                                                      const dzcrash_async_byteorder_t* byteorder,
                                                      uint64_t address, uint64_t* length,
                                                      uint64_t* header_size);

// Where the CIE or FDE at `address` lies: its length field, its content [content, end) and its format.
struct dzcrash_async_dwarf_entry_span {
  uint64_t length;
  uint64_t content;
  uint64_t end;
  bool m64;
};

// The span of the entry at `address`; DZCRASH_INVALID_ARGUMENT unless the whole entry lies in the
// section.
dzcrash_error_t dzcrash_async_dwarf_read_entry_span(dwarf_section* section,
                                                    const dzcrash_async_byteorder_t* byteorder,
                                                    uint64_t address, dzcrash_async_dwarf_entry_span* span);

struct dzcrash_async_dwarf_cie_info {
  // Of the content (after the length field), from the section start.
  uint64_t cie_offset;
  // The length field's value.
  uint64_t cie_length;
  uint64_t cie_id;
  // 1, 3 or 4.
  uint8_t cie_version;
  // Version 4 only; 0 otherwise.
  uint8_t address_size;
  uint8_t segment_size;
  uint64_t code_alignment_factor;
  int64_t data_alignment_factor;
  // A DWARF register number.
  uint64_t return_address_register;
  // The augmentation string begins with 'z'.
  bool has_eh_augmentation;
  struct {
    bool has_lsda_encoding;
    uint8_t lsda_encoding;
    bool has_personality_address;
    uint64_t personality_address;
    bool has_pointer_encoding;
    uint8_t pointer_encoding;
    // 'S': the FDEs that use this CIE describe signal frames.
    bool signal_frame;
  } eh_augmentation;
  // From the section start.
  uint64_t initial_instructions_offset;
  uint64_t initial_instructions_length;
};

// Parses the CIE whose length field lies at `address` (inside the section). The personality pointer is
// decoded with `reader`. DZCRASH_INVALID_ARGUMENT for an id other than 0 or all ones, a version other
// than 1, 3 or 4, or a CIE that does not fit in the section; DZCRASH_NOT_SUPPORTED for an augmentation
// string that neither is empty nor begins with 'z'; read and decoding errors as they are.
template <typename machine_ptr>
dzcrash_error_t dzcrash_async_dwarf_cie_info_init(dzcrash_async_dwarf_cie_info* info, dwarf_section* section,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  const gnu_ehptr_reader<machine_ptr>* reader,
                                                  uint64_t address);

// CIEs already parsed, for a burst of FDE parses that name the same few CIEs (one stack walk, or a scan
// of a whole section, where nearly every FDE names the section's first CIE). An entry stands for one
// parse: the CIE at one address of a section with the given range, byte order and word width, with no
// pointer bases. Only parses that succeeded are kept; the oldest entry gives way. Plain data with no
// heap or locks, living on its user's stack; async-signal-safe.
class dwarf_cie_cache {
 public:
  static constexpr uint8_t kEntries = 8;

  void reset() {
    count_ = 0;
    next_ = 0;
  }

  // The parse of the CIE at `address`, or null.
  const dzcrash_async_dwarf_cie_info* find(const dwarf_section* section,
                                           const dzcrash_async_byteorder_t* byteorder, bool m64,
                                           uint64_t address) const;
  void insert(const dwarf_section* section, const dzcrash_async_byteorder_t* byteorder, bool m64,
              uint64_t address, const dzcrash_async_dwarf_cie_info& cie);

 private:
  struct entry {
    uint64_t section_address;
    uint64_t section_length;
    uint64_t address;
    const dzcrash_async_byteorder_t* byteorder;
    bool m64;
    dzcrash_async_dwarf_cie_info cie;
  };
  entry entries_[kEntries];
  uint8_t count_ = 0;
  uint8_t next_ = 0;
};

uint64_t dzcrash_async_dwarf_cie_info_initial_instructions_offset(const dzcrash_async_dwarf_cie_info* info);
uint64_t dzcrash_async_dwarf_cie_info_initial_instructions_length(const dzcrash_async_dwarf_cie_info* info);

// Nothing to release; kept so that every parse ends in one place.
void dzcrash_async_dwarf_cie_info_free(dzcrash_async_dwarf_cie_info* info);

}  // namespace dzcrash::async
