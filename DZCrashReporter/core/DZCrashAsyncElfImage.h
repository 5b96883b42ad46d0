#pragma once

// ELF images of the running process, read through the task seam: where the image lies, the extent of
// its code, its GNU build id, its processor, where its unwind table index (PT_GNU_EH_FRAME) is, and
// the nearest exported symbol from the dynamic symbol table. These are the image records the crash
// path uses on this system.
//
// Parsing an image with DZcrash_nasync_elf_init allocates (a copy of its path); the crash path parses
// images loaded after the list was built with DZcrash_async_elf_init, which borrows the path instead.
// The lookups are async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

constexpr size_t DZCRASH_ELF_BUILD_ID_MAX = 64;
constexpr size_t DZCRASH_ELF_SYMBOL_NAME_MAX = 256;

struct dzcrash_async_elf {
  dzcrash_task_t task;
  // Where the ELF header lies (the start of the load segment that maps file offset 0).
  uint64_t header_addr;
  // What is added to the image's own addresses (p_vaddr, st_value) to get task addresses.
  uint64_t load_bias;
  // The image's path: a heap copy (DZcrash_nasync_elf_init) or borrowed (DZcrash_async_elf_init).
  char* name;
  // e_machine.
  uint16_t machine;
  // [text_start, text_end): the executable load segments, page-aligned as the kernel maps them.
  uint64_t text_start;
  uint64_t text_end;
  // The GNU build id; length 0 when the image has none.
  uint8_t build_id[DZCRASH_ELF_BUILD_ID_MAX];
  size_t build_id_length;
  // PT_GNU_EH_FRAME (the .eh_frame_hdr section) in the task; 0 when absent.
  uint64_t eh_frame_hdr_address;
  uint64_t eh_frame_hdr_size;
  // The .eh_frame section that the header names, and the end of the load segment that holds it: no
  // program header gives the section's own end, so a scan of it stops at its terminator or there.
  // Both 0 when the header is absent or names no address this reader can decode.
  uint64_t eh_frame_address;
  uint64_t eh_frame_segment_end;
  // The dynamic symbol table, found through the dynamic section; symbol_count 0 when absent.
  uint64_t dynsym_address;
  uint64_t dynstr_address;
  uint64_t dynstr_size;
  uint64_t symbol_count;
};

using dzcrash_async_elf_found_symbol_cb = void (*)(uint64_t address, const char* name, void* context);

// Not async-signal-safe. Parses the 64-bit little-endian ELF image whose header lies at header_address.
// DZCRASH_INVALID_ARGUMENT for bytes that are not an ELF header, DZCRASH_NOT_SUPPORTED for another class
// or byte order, DZCRASH_INVALID_DATA when there is no load segment; nothing is left to free on failure.
dzcrash_error_t DZcrash_nasync_elf_init(dzcrash_async_elf* image, dzcrash_task_t task, const char* name,
                                        uint64_t header_address);

// The same parse without allocation: `name` is borrowed and must outlive the record, which needs no
// free. async-signal-safe.
dzcrash_error_t DZcrash_async_elf_init(dzcrash_async_elf* image, dzcrash_task_t task, char* name,
                                       uint64_t header_address);

// Not async-signal-safe. Only for records made by DZcrash_nasync_elf_init.
void DZcrash_nasync_elf_free(dzcrash_async_elf* image);

// The processor of an ELF machine number (e_machine) as the report records it (Mach cpu type and
// subtype). False for a machine the report's encoding has no value for. async-signal-safe.
bool DZcrash_async_elf_machine_processor(uint16_t machine, uint64_t* type, uint64_t* subtype);

// The machine number this program was built for.
uint16_t DZcrash_async_elf_host_machine();

// DZcrash_async_elf_machine_processor of the image's machine. async-signal-safe.
bool DZcrash_async_elf_processor(const dzcrash_async_elf* image, uint64_t* type, uint64_t* subtype);

// text_start <= address < text_end. async-signal-safe.
bool DZcrash_async_elf_contains_address(const dzcrash_async_elf* image, uint64_t address);

// The nearest defined dynamic symbol at or below pc that holds it (among equal addresses the first in
// the table): a symbol with a size holds only its own bytes; one without a size the bytes up to the next
// symbol (sized or not) and not past the end of its section. No load segment holds the section headers:
// they are read from the image's file (opened and read, both async-signal-safe, only for such a symbol)
// when its header is the loaded one, else the end of the load segment that holds the symbol stands for
// its section's. The name handed to the callback is cut to DZCRASH_ELF_SYMBOL_NAME_MAX - 1 bytes and
// lives only for the call. DZCRASH_NOT_FOUND when no symbol qualifies or the image has no dynamic
// symbols. async-signal-safe.
dzcrash_error_t DZcrash_async_elf_find_symbol_by_pc(const dzcrash_async_elf* image, uint64_t pc,
                                                    dzcrash_async_elf_found_symbol_cb callback,
                                                    void* context);

// Plugs the ELF reader into an image list: each image's parsed record is a dzcrash_async_elf and its
// size reaches from the header to the end of the code.
dzcrash_image_parser DZcrash_elf_image_parser();

// Bytes from the header to the end of the image's code: an image list entry's size. async-signal-safe.
uint64_t DZcrash_async_elf_code_size(const dzcrash_async_elf& image, uint64_t header_address);

}  // namespace dzcrash
