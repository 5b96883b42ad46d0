#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace dzcrash {

namespace {

constexpr size_t kNlistSize32 = 12;
constexpr size_t kNlistSize64 = 16;

struct symtab_command {
  uint32_t cmd;
  uint32_t cmdsize;
  uint32_t symoff;
  uint32_t nsyms;
  uint32_t stroff;
  uint32_t strsize;
};

struct dysymtab_command {
  uint32_t cmd;
  uint32_t cmdsize;
  uint32_t ilocalsym;
  uint32_t nlocalsym;
  uint32_t iextdefsym;
  uint32_t nextdefsym;
  // The rest of the command is not needed.
};

// Reads a whole command structure out of the load-commands mapping, after checking that it lies there
// and that the command claims at least that many bytes. async-signal-safe.
template <typename T>
bool readCommand(const dzcrash_async_macho* image, const void* command, T* out) {
  const auto local = reinterpret_cast<uintptr_t>(command);
  if (!DZcrash_async_mobject_verify_local_pointer(&image->load_cmds, local, 0, sizeof(T))) return false;
  DZcrash_async_memcpy(out, command, sizeof(T));
  return image->byteorder->swap32(out->cmdsize) >= sizeof(T);
}

// 16-byte, possibly unterminated, names. async-signal-safe.
bool nameEquals(const char (&field)[16], const char* name) {
  return DZcrash_async_strncmp(field, name, sizeof(field)) == 0;
}

// The fields of a segment command in host order. async-signal-safe.
struct SegmentInfo {
  uint64_t vmaddr;
  uint64_t vmsize;
  uint64_t fileoff;
  uint64_t filesize;
  uint32_t nsects;
  const void* sections;
};

bool readSegment(const dzcrash_async_macho* image, const void* command, SegmentInfo* info) {
  const dzcrash_async_byteorder_t* bo = image->byteorder;
  if (image->m64) {
    dzcrash_macho_segment_command_64 seg;
    if (!readCommand(image, command, &seg)) return false;
    *info = {bo->swap64(seg.vmaddr),  bo->swap64(seg.vmsize),
             bo->swap64(seg.fileoff), bo->swap64(seg.filesize),
             bo->swap32(seg.nsects),  static_cast<const uint8_t*>(command) + sizeof(seg)};
  } else {
    dzcrash_macho_segment_command seg;
    if (!readCommand(image, command, &seg)) return false;
    *info = {bo->swap32(seg.vmaddr),  bo->swap32(seg.vmsize),
             bo->swap32(seg.fileoff), bo->swap32(seg.filesize),
             bo->swap32(seg.nsects),  static_cast<const uint8_t*>(command) + sizeof(seg)};
  }
  return true;
}

// task address of an unslid vm address. async-signal-safe.
bool slid(const dzcrash_async_macho* image, uint64_t vmaddr, uint64_t* out) {
  return DZcrash_async_address_apply_offset(vmaddr, image->vmaddr_slide, out);
}

}  // namespace

dzcrash_error_t DZcrash_nasync_macho_init(dzcrash_async_macho* image, dzcrash_task_t task, const char* name,
                                          uint64_t header_address) {
  std::memset(image, 0, sizeof(*image));
  image->task = task;
  image->header_addr = header_address;
  image->name = strdup(name != nullptr ? name : "");
  if (image->name == nullptr) return DZCRASH_NO_MEMORY;

  auto fail = [image](dzcrash_error_t err) {
    std::free(image->name);
    image->name = nullptr;
    return err;
  };

  if (DZcrash_async_task_memcpy(task, header_address, 0, &image->header, sizeof(image->header)) !=
      DZCRASH_OK) {
    return fail(DZCRASH_INTERNAL);
  }
  switch (image->header.magic) {
    case DZCRASH_MH_MAGIC:
      image->byteorder = &DZcrash_async_byteorder_direct;
      image->m64 = false;
      break;
    case DZCRASH_MH_CIGAM:
      image->byteorder = &DZcrash_async_byteorder_swapped;
      image->m64 = false;
      break;
    case DZCRASH_MH_MAGIC_64:
      image->byteorder = &DZcrash_async_byteorder_direct;
      image->m64 = true;
      break;
    case DZCRASH_MH_CIGAM_64:
      image->byteorder = &DZcrash_async_byteorder_swapped;
      image->m64 = true;
      break;
    default:
      return fail(DZCRASH_INVALID_ARGUMENT);
  }
  image->header_size = image->m64 ? 32 : 28;
  image->ncmds = image->byteorder->swap32(image->header.ncmds);

  const uint32_t sizeofcmds = image->byteorder->swap32(image->header.sizeofcmds);
  uint64_t commandsAddress = 0;
  if (!DZcrash_async_address_apply_offset(header_address, image->header_size, &commandsAddress)) {
    return fail(DZCRASH_INVALID_ARGUMENT);
  }
  const dzcrash_error_t err =
      DZcrash_async_mobject_init(&image->load_cmds, task, commandsAddress, sizeofcmds, true);
  if (err != DZCRASH_OK) return fail(err);

  const void* text = DZcrash_async_macho_find_segment_cmd(image, "__TEXT");
  SegmentInfo info;
  if (text == nullptr || !readSegment(image, text, &info)) {
    DZcrash_async_mobject_free(&image->load_cmds);
    return fail(DZCRASH_INVALID_ARGUMENT);
  }
  image->text_vmaddr = info.vmaddr;
  image->text_size = info.vmsize;
  image->vmaddr_slide = static_cast<int64_t>(header_address - info.vmaddr);
  return DZCRASH_OK;
}

void DZcrash_nasync_macho_free(dzcrash_async_macho* image) {
  if (image->name == nullptr) return;
  DZcrash_async_mobject_free(&image->load_cmds);
  std::free(image->name);
  image->name = nullptr;
}

const dzcrash_async_byteorder_t* DZcrash_async_macho_byteorder(const dzcrash_async_macho* image) {
  return image->byteorder;
}

const dzcrash_macho_header* DZcrash_async_macho_header(const dzcrash_async_macho* image) {
  return &image->header;
}

uint32_t DZcrash_async_macho_header_size(const dzcrash_async_macho* image) {
  return image->header_size;
}

uint32_t DZcrash_async_macho_cpu_type(const dzcrash_async_macho* image) {
  return image->byteorder->swap32(image->header.cputype);
}

uint32_t DZcrash_async_macho_cpu_subtype(const dzcrash_async_macho* image) {
  return image->byteorder->swap32(image->header.cpusubtype);
}

bool DZcrash_async_macho_contains_address(const dzcrash_async_macho* image, uint64_t address) {
  return address >= image->header_addr && address - image->header_addr < image->text_size;
}

const void* DZcrash_async_macho_next_command(const dzcrash_async_macho* image, const void* previous) {
  const dzcrash_async_mobject* cmds = &image->load_cmds;
  const auto head = sizeof(dzcrash_macho_load_command);
  if (previous == nullptr) {
    if (cmds->length < head) return nullptr;
    const void* first = reinterpret_cast<const void*>(cmds->address);
    dzcrash_macho_load_command lc;
    DZcrash_async_memcpy(&lc, first, head);
    const uint32_t size = image->byteorder->swap32(lc.cmdsize);
    if (size < head || !DZcrash_async_mobject_verify_local_pointer(cmds, cmds->address, 0, size))
      return nullptr;
    return first;
  }

  const auto current = reinterpret_cast<uintptr_t>(previous);
  if (!DZcrash_async_mobject_verify_local_pointer(cmds, current, 0, head)) return nullptr;
  dzcrash_macho_load_command lc;
  DZcrash_async_memcpy(&lc, previous, head);
  const uint32_t size = image->byteorder->swap32(lc.cmdsize);
  if (size < head) return nullptr;
  uint64_t next = 0;
  if (!DZcrash_async_address_apply_offset(current, size, &next)) return nullptr;
  if (!DZcrash_async_mobject_verify_local_pointer(cmds, static_cast<uintptr_t>(next), 0, head))
    return nullptr;
  DZcrash_async_memcpy(&lc, reinterpret_cast<const void*>(next), head);
  const uint32_t nextSize = image->byteorder->swap32(lc.cmdsize);
  if (nextSize < head ||
      !DZcrash_async_mobject_verify_local_pointer(cmds, static_cast<uintptr_t>(next), 0, nextSize)) {
    return nullptr;
  }
  return reinterpret_cast<const void*>(next);
}

const void* DZcrash_async_macho_next_command_type(const dzcrash_async_macho* image, const void* previous,
                                                  uint32_t expected_command) {
  for (const void* cmd = DZcrash_async_macho_next_command(image, previous); cmd != nullptr;
       cmd = DZcrash_async_macho_next_command(image, cmd)) {
    dzcrash_macho_load_command lc;
    DZcrash_async_memcpy(&lc, cmd, sizeof(lc));
    if (image->byteorder->swap32(lc.cmd) == expected_command) return cmd;
  }
  return nullptr;
}

const void* DZcrash_async_macho_find_command(const dzcrash_async_macho* image, uint32_t expected_command) {
  return DZcrash_async_macho_next_command_type(image, nullptr, expected_command);
}

const void* DZcrash_async_macho_find_segment_cmd(const dzcrash_async_macho* image, const char* segname) {
  const uint32_t type = image->m64 ? DZCRASH_LC_SEGMENT_64 : DZCRASH_LC_SEGMENT;
  for (const void* cmd = DZcrash_async_macho_find_command(image, type); cmd != nullptr;
       cmd = DZcrash_async_macho_next_command_type(image, cmd, type)) {
    if (image->m64) {
      dzcrash_macho_segment_command_64 seg;
      if (readCommand(image, cmd, &seg) && nameEquals(seg.segname, segname)) return cmd;
    } else {
      dzcrash_macho_segment_command seg;
      if (readCommand(image, cmd, &seg) && nameEquals(seg.segname, segname)) return cmd;
    }
  }
  return nullptr;
}

dzcrash_error_t DZcrash_async_macho_map_segment(const dzcrash_async_macho* image, const char* segname,
                                                dzcrash_async_macho_mapped_segment* seg) {
  const void* cmd = DZcrash_async_macho_find_segment_cmd(image, segname);
  SegmentInfo info;
  if (cmd == nullptr || !readSegment(image, cmd, &info)) return DZCRASH_NOT_FOUND;
  uint64_t address = 0;
  if (!slid(image, info.vmaddr, &address)) return DZCRASH_INVALID_ARGUMENT;
  const dzcrash_error_t err =
      DZcrash_async_mobject_init(&seg->mobj, image->task, address, info.vmsize, false);
  if (err != DZCRASH_OK) return err;
  seg->fileoff = info.fileoff;
  seg->filesize = info.filesize;
  return DZCRASH_OK;
}

void DZcrash_async_macho_mapped_segment_free(dzcrash_async_macho_mapped_segment* seg) {
  DZcrash_async_mobject_free(&seg->mobj);
}

dzcrash_error_t DZcrash_async_macho_find_section(const dzcrash_async_macho* image, const char* segname,
                                                 const char* sectname, uint64_t* address, uint64_t* size) {
  const void* cmd = DZcrash_async_macho_find_segment_cmd(image, segname);
  SegmentInfo info;
  if (cmd == nullptr || !readSegment(image, cmd, &info)) return DZCRASH_NOT_FOUND;
  const size_t headerSize = image->m64 ? sizeof(dzcrash_macho_section_64) : sizeof(dzcrash_macho_section);
  const auto* cursor = static_cast<const uint8_t*>(info.sections);
  for (uint32_t i = 0; i < info.nsects; ++i, cursor += headerSize) {
    if (!DZcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cursor), 0,
                                                    headerSize)) {
      return DZCRASH_INVALID_ARGUMENT;
    }
    uint64_t addr = 0;
    uint64_t sectionSize = 0;
    if (image->m64) {
      dzcrash_macho_section_64 sect;
      DZcrash_async_memcpy(&sect, cursor, sizeof(sect));
      if (!nameEquals(sect.sectname, sectname)) continue;
      addr = image->byteorder->swap64(sect.addr);
      sectionSize = image->byteorder->swap64(sect.size);
    } else {
      dzcrash_macho_section sect;
      DZcrash_async_memcpy(&sect, cursor, sizeof(sect));
      if (!nameEquals(sect.sectname, sectname)) continue;
      addr = image->byteorder->swap32(sect.addr);
      sectionSize = image->byteorder->swap32(sect.size);
    }
    if (!slid(image, addr, address)) return DZCRASH_INVALID_ARGUMENT;
    *size = sectionSize;
    return DZCRASH_OK;
  }
  return DZCRASH_NOT_FOUND;
}

dzcrash_error_t DZcrash_async_macho_map_section(const dzcrash_async_macho* image, const char* segname,
                                                const char* sectname, dzcrash_async_mobject* mobj) {
  uint64_t address = 0;
  uint64_t size = 0;
  const dzcrash_error_t err = DZcrash_async_macho_find_section(image, segname, sectname, &address, &size);
  if (err != DZCRASH_OK) return err;
  return DZcrash_async_mobject_init(mobj, image->task, address, size, true);
}

dzcrash_error_t DZcrash_async_macho_symtab_reader_init(dzcrash_async_macho_symtab_reader* reader,
                                                       dzcrash_async_macho* image) {
  DZcrash_async_memset(reader, 0, sizeof(*reader));
  reader->image = image;
  const dzcrash_async_byteorder_t* bo = image->byteorder;

  const void* symtabCmd = DZcrash_async_macho_find_command(image, DZCRASH_LC_SYMTAB);
  symtab_command symtab;
  if (symtabCmd == nullptr || !readCommand(image, symtabCmd, &symtab)) return DZCRASH_NOT_FOUND;
  const void* dysymtabCmd = DZcrash_async_macho_find_command(image, DZCRASH_LC_DYSYMTAB);
  dysymtab_command dysymtab;
  const bool hasDysymtab = dysymtabCmd != nullptr && readCommand(image, dysymtabCmd, &dysymtab);

  if (DZcrash_async_macho_map_segment(image, "__LINKEDIT", &reader->linkedit) != DZCRASH_OK) {
    return DZCRASH_INTERNAL;
  }
  const dzcrash_async_mobject* linkedit = &reader->linkedit.mobj;
  const uint64_t base = DZcrash_async_mobject_base_address(linkedit);
  const uint64_t fileoff = reader->linkedit.fileoff;
  const size_t entrySize = image->m64 ? kNlistSize64 : kNlistSize32;

  reader->nsyms = bo->swap32(symtab.nsyms);
  reader->string_table_size = bo->swap32(symtab.strsize);
  // File offsets below the segment's own have no place in it.
  const uint64_t symoff = bo->swap32(symtab.symoff);
  const uint64_t stroff = bo->swap32(symtab.stroff);
  if (symoff >= fileoff && stroff >= fileoff) {
    reader->symtab =
        DZcrash_async_mobject_remap_address(linkedit, base, static_cast<int64_t>(symoff - fileoff),
                                            static_cast<size_t>(reader->nsyms) * entrySize);
    reader->string_table = static_cast<const char*>(DZcrash_async_mobject_remap_address(
        linkedit, base, static_cast<int64_t>(stroff - fileoff), reader->string_table_size));
  }
  if (reader->symtab == nullptr || reader->string_table == nullptr) {
    DZcrash_async_macho_mapped_segment_free(&reader->linkedit);
    return DZCRASH_INTERNAL;
  }

  if (hasDysymtab) {
    // Sums in 64 bits: a start and count that wrap 32 bits must not pass the bound.
    const uint64_t iextdefsym = bo->swap32(dysymtab.iextdefsym);
    const uint64_t nextdefsym = bo->swap32(dysymtab.nextdefsym);
    const uint64_t ilocalsym = bo->swap32(dysymtab.ilocalsym);
    const uint64_t nlocalsym = bo->swap32(dysymtab.nlocalsym);
    if (reader->nsyms < iextdefsym + nextdefsym || reader->nsyms < ilocalsym + nlocalsym) {
      DZcrash_async_macho_mapped_segment_free(&reader->linkedit);
      return DZCRASH_INVALID_ARGUMENT;
    }
    const auto* table = static_cast<const uint8_t*>(reader->symtab);
    reader->symtab_global = table + iextdefsym * entrySize;
    reader->nsyms_global = static_cast<uint32_t>(nextdefsym);
    reader->symtab_local = table + ilocalsym * entrySize;
    reader->nsyms_local = static_cast<uint32_t>(nlocalsym);
  }
  return DZCRASH_OK;
}

dzcrash_async_macho_symtab_entry DZcrash_async_macho_symtab_reader_read(
    const dzcrash_async_macho_symtab_reader* reader, const void* symtab, uint32_t index) {
  const dzcrash_async_byteorder_t* bo = reader->image->byteorder;
  dzcrash_async_macho_symtab_entry entry;
  if (reader->image->m64) {
    const auto* raw = static_cast<const uint8_t*>(symtab) + static_cast<size_t>(index) * kNlistSize64;
    uint32_t strx;
    uint16_t desc;
    uint64_t value;
    DZcrash_async_memcpy(&strx, raw, 4);
    DZcrash_async_memcpy(&desc, raw + 6, 2);
    DZcrash_async_memcpy(&value, raw + 8, 8);
    entry = {bo->swap32(strx), raw[4], raw[5], bo->swap16(desc), bo->swap64(value), 0};
  } else {
    const auto* raw = static_cast<const uint8_t*>(symtab) + static_cast<size_t>(index) * kNlistSize32;
    uint32_t strx;
    uint16_t desc;
    uint32_t value;
    DZcrash_async_memcpy(&strx, raw, 4);
    DZcrash_async_memcpy(&desc, raw + 6, 2);
    DZcrash_async_memcpy(&value, raw + 8, 4);
    entry = {bo->swap32(strx), raw[4], raw[5], bo->swap16(desc), bo->swap32(value), 0};
  }
  entry.normalized_value = entry.n_value;
  if ((entry.n_desc & DZCRASH_N_ARM_THUMB_DEF) != 0) entry.normalized_value |= 1;
  return entry;
}

const char* DZcrash_async_macho_symtab_reader_symbol_name(const dzcrash_async_macho_symtab_reader* reader,
                                                          uint32_t n_strx) {
  if (n_strx >= reader->string_table_size) return nullptr;
  for (size_t i = n_strx; i < reader->string_table_size; ++i) {
    if (reader->string_table[i] == '\0') return reader->string_table + n_strx;
  }
  return nullptr;
}

void DZcrash_async_macho_symtab_reader_free(dzcrash_async_macho_symtab_reader* reader) {
  DZcrash_async_macho_mapped_segment_free(&reader->linkedit);
}

namespace {

// Not a debugging entry, and defined in a section.
bool isDefinedInSection(const dzcrash_async_macho_symtab_entry& entry) {
  return (entry.n_type & 0xEE) == DZCRASH_N_SECT;
}

// Keeps the greatest value at or below target; among equal values the first seen stays. Values are
// compared without the Thumb bit, so that a pc at the first instruction of a Thumb function (an even
// address) resolves to that function rather than the one before it.
void scanNearest(const dzcrash_async_macho_symtab_reader* reader, const void* table, uint32_t count,
                 uint64_t target, bool* found, dzcrash_async_macho_symtab_entry* best) {
  for (uint32_t i = 0; i < count; ++i) {
    const dzcrash_async_macho_symtab_entry entry = DZcrash_async_macho_symtab_reader_read(reader, table, i);
    if (!isDefinedInSection(entry) || entry.n_value > target) continue;
    if (!*found || entry.n_value > best->n_value) {
      *best = entry;
      *found = true;
    }
  }
}

}  // namespace

dzcrash_error_t DZcrash_async_macho_find_symbol_by_pc(dzcrash_async_macho* image, uint64_t pc,
                                                      dzcrash_async_macho_found_symbol_cb callback,
                                                      void* context) {
  // A pc below the slide lies below the image: left to wrap, it would seem to lie above every symbol.
  // Subtracted in unsigned arithmetic: a damaged image can carry the one slide that has no negation.
  uint64_t target = 0;
  const uint64_t slideMagnitude = image->vmaddr_slide >= 0 ? static_cast<uint64_t>(image->vmaddr_slide)
                                                           : 0 - static_cast<uint64_t>(image->vmaddr_slide);
  if (image->vmaddr_slide >= 0 ? __builtin_sub_overflow(pc, slideMagnitude, &target)
                               : __builtin_add_overflow(pc, slideMagnitude, &target)) {
    return DZCRASH_NOT_FOUND;
  }

  dzcrash_async_macho_symtab_reader reader;
  const dzcrash_error_t err = DZcrash_async_macho_symtab_reader_init(&reader, image);
  if (err != DZCRASH_OK) return err;

  bool found = false;
  dzcrash_async_macho_symtab_entry best = {};
  if (reader.symtab_global != nullptr && reader.symtab_local != nullptr) {
    scanNearest(&reader, reader.symtab_global, reader.nsyms_global, target, &found, &best);
    scanNearest(&reader, reader.symtab_local, reader.nsyms_local, target, &found, &best);
  } else {
    scanNearest(&reader, reader.symtab, reader.nsyms, target, &found, &best);
  }

  dzcrash_error_t result = DZCRASH_NOT_FOUND;
  if (found) {
    const char* name = DZcrash_async_macho_symtab_reader_symbol_name(&reader, best.n_strx);
    uint64_t address = 0;
    if (name == nullptr || !slid(image, best.normalized_value, &address)) {
      result = DZCRASH_INVALID_ARGUMENT;
    } else {
      callback(address, name, context);
      result = DZCRASH_OK;
    }
  }
  DZcrash_async_macho_symtab_reader_free(&reader);
  return result;
}

dzcrash_error_t DZcrash_async_macho_find_symbol_by_name(dzcrash_async_macho* image, const char* name,
                                                        uint64_t* address) {
  dzcrash_async_macho_symtab_reader reader;
  const dzcrash_error_t err = DZcrash_async_macho_symtab_reader_init(&reader, image);
  if (err != DZCRASH_OK) return err;
  dzcrash_error_t result = DZCRASH_NOT_FOUND;
  for (uint32_t i = 0; i < reader.nsyms; ++i) {
    const dzcrash_async_macho_symtab_entry entry =
        DZcrash_async_macho_symtab_reader_read(&reader, reader.symtab, i);
    if (!isDefinedInSection(entry)) continue;
    const char* entryName = DZcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
    if (entryName == nullptr || DZcrash_async_strcmp(entryName, name) != 0) continue;
    result = slid(image, entry.normalized_value, address) ? DZCRASH_OK : DZCRASH_INVALID_ARGUMENT;
    break;
  }
  DZcrash_async_macho_symtab_reader_free(&reader);
  return result;
}

dzcrash_error_t DZcrash_async_macho_string_init(dzcrash_async_macho_string* string,
                                                dzcrash_async_macho* image, uint64_t address) {
  DZcrash_async_memset(string, 0, sizeof(*string));
  string->image = image;
  string->address = address;
  return DZCRASH_OK;
}

namespace {

// Maps one page, and twice as much each time the walk reaches the end of what is mapped: a long
// string costs a few remaps, not one per page (which made a string without a NUL in a large readable
// region quadratic). The walk goes on from where the last mapping ended.
dzcrash_error_t loadString(dzcrash_async_macho_string* string) {
  if (string->mobj_loaded) return DZCRASH_OK;
  if (string->address == 0) return DZCRASH_ACCESS_DENIED;
  const uint64_t page = DZcrash_async_page_size();
  uint64_t request = page;
  uint64_t scanned = 0;
  for (;;) {
    const dzcrash_error_t err =
        DZcrash_async_mobject_init(&string->mobj, string->image->task, string->address, request, false);
    if (err != DZCRASH_OK) return err;
    const uint64_t mapped = DZcrash_async_mobject_length(&string->mobj);
    const auto* bytes = reinterpret_cast<const char*>(string->mobj.address);
    for (uint64_t i = scanned; i < mapped; ++i) {
      if (bytes[i] == '\0') {
        string->length = static_cast<size_t>(i);
        string->mobj_loaded = true;
        return DZCRASH_OK;
      }
    }
    DZcrash_async_mobject_free(&string->mobj);
    // The mapping ended short of the request: nothing further is readable.
    if (mapped < request || __builtin_mul_overflow(request, 2, &request)) return DZCRASH_INVALID_ARGUMENT;
    scanned = mapped;
  }
}

}  // namespace

dzcrash_error_t DZcrash_async_macho_string_get_length(dzcrash_async_macho_string* string, size_t* length) {
  const dzcrash_error_t err = loadString(string);
  if (err != DZCRASH_OK) return err;
  *length = string->length;
  return DZCRASH_OK;
}

dzcrash_error_t DZcrash_async_macho_string_get_pointer(dzcrash_async_macho_string* string,
                                                       const char** pointer) {
  const dzcrash_error_t err = loadString(string);
  if (err != DZCRASH_OK) return err;
  *pointer = static_cast<const char*>(
      DZcrash_async_mobject_remap_address(&string->mobj, string->address, 0, string->length + 1));
  return *pointer != nullptr ? DZCRASH_OK : DZCRASH_INVALID_ARGUMENT;
}

void DZcrash_async_macho_string_free(dzcrash_async_macho_string* string) {
  if (string->mobj_loaded) DZcrash_async_mobject_free(&string->mobj);
  string->mobj_loaded = false;
}

namespace {

uint64_t machoCodeSize(const dzcrash_async_macho& macho, uint64_t) {
  return macho.text_size;
}

}  // namespace

dzcrash_image_parser DZcrash_macho_image_parser() {
  return DZcrash_image_parser_for<dzcrash_async_macho, DZCRASH_IMAGE_FORMAT_MACHO, DZcrash_nasync_macho_init,
                                  DZcrash_nasync_macho_free, machoCodeSize>();
}

}  // namespace dzcrash
