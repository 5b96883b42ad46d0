#pragma once

// Mach-O images read straight from a task's memory: the header and load commands, segments and
// sections, and the symbol table with its nearest-symbol lookup. Images of other systems arrive in
// reports made elsewhere and as test fixtures; every read goes through the task seam, so a damaged or
// half-unmapped image yields an error, never a fault.
//
// Parsing an image (DZcrash_nasync_macho_init) allocates; everything else here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncMObject.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

// The file-format constants this reader needs (the host has no Mach-O headers).
constexpr uint32_t DZCRASH_MH_MAGIC = 0xFEEDFACEu;
constexpr uint32_t DZCRASH_MH_CIGAM = 0xCEFAEDFEu;
constexpr uint32_t DZCRASH_MH_MAGIC_64 = 0xFEEDFACFu;
constexpr uint32_t DZCRASH_MH_CIGAM_64 = 0xCFFAEDFEu;
constexpr uint32_t DZCRASH_LC_SEGMENT = 0x1;
constexpr uint32_t DZCRASH_LC_SYMTAB = 0x2;
constexpr uint32_t DZCRASH_LC_DYSYMTAB = 0xB;
constexpr uint32_t DZCRASH_LC_SEGMENT_64 = 0x19;
constexpr uint32_t DZCRASH_LC_UUID = 0x1B;
constexpr uint8_t DZCRASH_N_STAB = 0xE0;
constexpr uint8_t DZCRASH_N_TYPE = 0x0E;
constexpr uint8_t DZCRASH_N_SECT = 0x0E;
constexpr uint16_t DZCRASH_N_ARM_THUMB_DEF = 0x0008;

// The first 28 bytes of a Mach-O header, in the image's own byte order.
struct dzcrash_macho_header {
  uint32_t magic;
  uint32_t cputype;
  uint32_t cpusubtype;
  uint32_t filetype;
  uint32_t ncmds;
  uint32_t sizeofcmds;
  uint32_t flags;
};

struct dzcrash_macho_load_command {
  uint32_t cmd;
  uint32_t cmdsize;
};

struct dzcrash_macho_segment_command {
  uint32_t cmd;
  uint32_t cmdsize;
  char segname[16];
  uint32_t vmaddr;
  uint32_t vmsize;
  uint32_t fileoff;
  uint32_t filesize;
  uint32_t maxprot;
  uint32_t initprot;
  uint32_t nsects;
  uint32_t flags;
};
static_assert(sizeof(dzcrash_macho_segment_command) == 56);

struct dzcrash_macho_segment_command_64 {
  uint32_t cmd;
  uint32_t cmdsize;
  char segname[16];
  uint64_t vmaddr;
  uint64_t vmsize;
  uint64_t fileoff;
  uint64_t filesize;
  uint32_t maxprot;
  uint32_t initprot;
  uint32_t nsects;
  uint32_t flags;
};
static_assert(sizeof(dzcrash_macho_segment_command_64) == 72);

struct dzcrash_macho_section {
  char sectname[16];
  char segname[16];
  uint32_t addr;
  uint32_t size;
  uint32_t offset;
  uint32_t align;
  uint32_t reloff;
  uint32_t nreloc;
  uint32_t flags;
  uint32_t reserved1;
  uint32_t reserved2;
};
static_assert(sizeof(dzcrash_macho_section) == 68);

struct dzcrash_macho_section_64 {
  char sectname[16];
  char segname[16];
  uint64_t addr;
  uint64_t size;
  uint32_t offset;
  uint32_t align;
  uint32_t reloff;
  uint32_t nreloc;
  uint32_t flags;
  uint32_t reserved1;
  uint32_t reserved2;
  uint32_t reserved3;
};
static_assert(sizeof(dzcrash_macho_section_64) == 80);

// One parsed image.
struct dzcrash_async_macho {
  dzcrash_task_t task;
  // Where the header lies in the task.
  uint64_t header_addr;
  // header_addr - the __TEXT segment's vmaddr.
  int64_t vmaddr_slide;
  // Heap copy of the image's path.
  char* name;
  // As read, in the image's byte order.
  dzcrash_macho_header header;
  // 28 for a 32-bit image, 32 for a 64-bit one.
  uint32_t header_size;
  // In host order.
  uint32_t ncmds;
  // The sizeofcmds bytes after the header.
  dzcrash_async_mobject load_cmds;
  // Host order, unslid.
  uint64_t text_vmaddr;
  uint64_t text_size;
  bool m64;
  const dzcrash_async_byteorder_t* byteorder;
};

// A mapped segment and the file range it came from, to turn file offsets into addresses.
struct dzcrash_async_macho_mapped_segment {
  dzcrash_async_mobject mobj;
  uint64_t fileoff;
  uint64_t filesize;
};

// One symbol-table entry in host order. normalized_value has bit 0 set for a Thumb entry point.
struct dzcrash_async_macho_symtab_entry {
  uint32_t n_strx;
  uint8_t n_type;
  uint8_t n_sect;
  uint16_t n_desc;
  uint64_t n_value;
  uint64_t normalized_value;
};

struct dzcrash_async_macho_symtab_reader {
  dzcrash_async_macho* image;
  dzcrash_async_macho_mapped_segment linkedit;
  // Local pointers into the __LINKEDIT mapping.
  const void* symtab;
  uint32_t nsyms;
  const char* string_table;
  size_t string_table_size;
  // The external defined and the local ranges, when the image has an LC_DYSYMTAB.
  const void* symtab_global;
  uint32_t nsyms_global;
  const void* symtab_local;
  uint32_t nsyms_local;
};

// A NUL-terminated string in the task, loaded on first use.
struct dzcrash_async_macho_string {
  dzcrash_async_macho* image;
  uint64_t address;
  bool mobj_loaded;
  dzcrash_async_mobject mobj;
  size_t length;
};

using dzcrash_async_macho_found_symbol_cb = void (*)(uint64_t address, const char* name, void* context);

// Not async-signal-safe. Parses the image whose header lies at header_address in the task.
// DZCRASH_INVALID_ARGUMENT for an unknown magic (a universal file among them) or an image without a
// __TEXT segment; on any failure nothing is left to free.
dzcrash_error_t DZcrash_nasync_macho_init(dzcrash_async_macho* image, dzcrash_task_t task, const char* name,
                                          uint64_t header_address);

// Not async-signal-safe. Frees what a successful init made.
void DZcrash_nasync_macho_free(dzcrash_async_macho* image);

// async-signal-safe accessors; cputype and cpusubtype in host order.
const dzcrash_async_byteorder_t* DZcrash_async_macho_byteorder(const dzcrash_async_macho* image);
const dzcrash_macho_header* DZcrash_async_macho_header(const dzcrash_async_macho* image);
uint32_t DZcrash_async_macho_header_size(const dzcrash_async_macho* image);
uint32_t DZcrash_async_macho_cpu_type(const dzcrash_async_macho* image);
uint32_t DZcrash_async_macho_cpu_subtype(const dzcrash_async_macho* image);

// header_addr <= address < header_addr + __TEXT vmsize. async-signal-safe.
bool DZcrash_async_macho_contains_address(const dzcrash_async_macho* image, uint64_t address);

// The load command after `previous` (the first when null) as a local pointer whose whole cmdsize lies
// in the load-commands mapping; null at the end or at the first malformed command. ncmds is not
// consulted: the walk is bounded by sizeofcmds. async-signal-safe.
const void* DZcrash_async_macho_next_command(const dzcrash_async_macho* image, const void* previous);
const void* DZcrash_async_macho_next_command_type(const dzcrash_async_macho* image, const void* previous,
                                                  uint32_t expected_command);
const void* DZcrash_async_macho_find_command(const dzcrash_async_macho* image, uint32_t expected_command);

// The segment command (LC_SEGMENT_64 in a 64-bit image, LC_SEGMENT otherwise) named segname, or null.
// async-signal-safe.
const void* DZcrash_async_macho_find_segment_cmd(const dzcrash_async_macho* image, const char* segname);

// Maps the named segment's vmsize bytes (as far as they can be read). async-signal-safe.
dzcrash_error_t DZcrash_async_macho_map_segment(const dzcrash_async_macho* image, const char* segname,
                                                dzcrash_async_macho_mapped_segment* seg);
void DZcrash_async_macho_mapped_segment_free(dzcrash_async_macho_mapped_segment* seg);

// Where a section lies in the task (slid) and its size. DZCRASH_NOT_FOUND when the segment or the
// section is missing. async-signal-safe.
dzcrash_error_t DZcrash_async_macho_find_section(const dzcrash_async_macho* image, const char* segname,
                                                 const char* sectname, uint64_t* address, uint64_t* size);

// Maps a section wholly. DZCRASH_NOT_FOUND when the segment or the section is missing.
// async-signal-safe.
dzcrash_error_t DZcrash_async_macho_map_section(const dzcrash_async_macho* image, const char* segname,
                                                const char* sectname, dzcrash_async_mobject* mobj);

// Symbol-table reader. async-signal-safe.
dzcrash_error_t DZcrash_async_macho_symtab_reader_init(dzcrash_async_macho_symtab_reader* reader,
                                                       dzcrash_async_macho* image);
// The entry at index of a table the reader located (symtab, symtab_global or symtab_local); the caller
// keeps index below that table's count.
dzcrash_async_macho_symtab_entry DZcrash_async_macho_symtab_reader_read(
    const dzcrash_async_macho_symtab_reader* reader, const void* symtab, uint32_t index);
// The name at a string index, or null unless the whole name and its NUL lie in the mapping.
const char* DZcrash_async_macho_symtab_reader_symbol_name(const dzcrash_async_macho_symtab_reader* reader,
                                                          uint32_t n_strx);
void DZcrash_async_macho_symtab_reader_free(dzcrash_async_macho_symtab_reader* reader);

// The nearest defined symbol at or below pc; the callback gets its slid address (odd for a Thumb entry
// point) and name. DZCRASH_NOT_FOUND when no symbol lies at or below pc. async-signal-safe.
dzcrash_error_t DZcrash_async_macho_find_symbol_by_pc(dzcrash_async_macho* image, uint64_t pc,
                                                      dzcrash_async_macho_found_symbol_cb callback,
                                                      void* context);

// The slid address of the first defined symbol with exactly this name. async-signal-safe.
dzcrash_error_t DZcrash_async_macho_find_symbol_by_name(dzcrash_async_macho* image, const char* name,
                                                        uint64_t* address);

// Strings in the task. async-signal-safe.
dzcrash_error_t DZcrash_async_macho_string_init(dzcrash_async_macho_string* string,
                                                dzcrash_async_macho* image, uint64_t address);
// Length without the NUL.
dzcrash_error_t DZcrash_async_macho_string_get_length(dzcrash_async_macho_string* string, size_t* length);
dzcrash_error_t DZcrash_async_macho_string_get_pointer(dzcrash_async_macho_string* string,
                                                       const char** pointer);
void DZcrash_async_macho_string_free(dzcrash_async_macho_string* string);

// Plugs the Mach-O reader into an image list: each image's parsed record is a dzcrash_async_macho
// and its size the __TEXT vmsize.
dzcrash_image_parser DZcrash_macho_image_parser();

}  // namespace dzcrash
