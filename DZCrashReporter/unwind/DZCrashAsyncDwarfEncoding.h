#pragma once

// Pointers as the GNU eh_frame format encodes them (DW_EH_PE): a value format in the low four bits, an
// application (what the value is relative to) in bits 4-6, and an indirect flag in bit 7. The reader
// holds the bases that the relative applications need; only the bases a caller sets can be used.
//
// Instantiated for 32-bit images (uint32_t) and 64-bit images (uint64_t); the word type is the width of
// an absolute pointer and of the arithmetic. Every routine is async-signal-safe.

#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"

namespace dzcrash::async {

enum dzcrash_dwarf_ehptr_encoding : uint8_t {
  DW_EH_PE_absptr = 0x00,
  DW_EH_PE_uleb128 = 0x01,
  DW_EH_PE_udata2 = 0x02,
  DW_EH_PE_udata4 = 0x03,
  DW_EH_PE_udata8 = 0x04,
  DW_EH_PE_sleb128 = 0x09,
  DW_EH_PE_sdata2 = 0x0A,
  DW_EH_PE_sdata4 = 0x0B,
  DW_EH_PE_sdata8 = 0x0C,

  DW_EH_PE_pcrel = 0x10,
  DW_EH_PE_textrel = 0x20,
  DW_EH_PE_datarel = 0x30,
  DW_EH_PE_funcrel = 0x40,
  DW_EH_PE_aligned = 0x50,

  DW_EH_PE_indirect = 0x80,
  DW_EH_PE_omit = 0xFF,
};

constexpr uint8_t DW_EH_PE_FORMAT_MASK = 0x0F;
constexpr uint8_t DW_EH_PE_APPLICATION_MASK = 0x70;

// The size of a value of a fixed-size format (absptr counts as a word of the instance); 0 for the
// LEB128 formats and for formats this reader does not know.
uint8_t dzcrash_async_dwarf_ehptr_format_size(uint8_t encoding, uint8_t word_size);

template <typename machine_ptr>
class gnu_ehptr_reader {
 public:
  explicit gnu_ehptr_reader(const dzcrash_async_byteorder_t* byteorder) : byteorder_(byteorder) {}

  // Aligned pointers are aligned within the frame section as it lies in memory: frame_section_base is
  // the section's task address, frame_section_vm_addr where it lies when loaded.
  void set_frame_section_base(machine_ptr frame_section_base, machine_ptr frame_section_vm_addr);
  void set_text_base(machine_ptr text_base);
  void set_data_base(machine_ptr data_base);
  void set_func_base(machine_ptr func_base);

  // Decodes the pointer at location + offset of the section. DZCRASH_NOT_FOUND for DW_EH_PE_omit;
  // DZCRASH_NOT_SUPPORTED for an application whose base is not set and for formats and applications
  // this reader does not know; the section's and the task's read errors as they are. size receives the
  // bytes consumed (alignment padding included). An indirect pointer is read from the section's task
  // at the decoded address.
  dzcrash_error_t read(dwarf_section* section, uint64_t location, int64_t offset, uint8_t encoding,
                       machine_ptr* result, uint64_t* size) const;

  const dzcrash_async_byteorder_t* byteorder() const { return byteorder_; }

 private:
  struct base {
    bool valid = false;
    machine_ptr address = 0;
  };

  const dzcrash_async_byteorder_t* byteorder_;
  base frame_section_;
  machine_ptr frame_section_vm_addr_ = 0;
  base text_;
  base data_;
  base func_;
};

}  // namespace dzcrash::async
