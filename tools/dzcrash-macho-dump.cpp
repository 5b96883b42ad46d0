// Prints the header, segments, sections and symbols of a Mach-O file as the crash reporter's image
// reader sees it, with the file laid out at its own addresses (slide 0); or, with --symbol, the name
// the crash reporter's combined lookup (symbol table and Objective-C metadata) gives an address.
//   dzcrash-macho-dump FILE
//   dzcrash-macho-dump --symbol ADDR FILE

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"

using namespace dzcrash;

namespace {

std::string fixedName(const char (&field)[16]) {
  return std::string(field, strnlen(field, sizeof(field)));
}

void printSegments(const dzcrash_async_macho* image) {
  const dzcrash_async_byteorder_t* bo = image->byteorder;
  const uint32_t type = image->m64 ? DZCRASH_LC_SEGMENT_64 : DZCRASH_LC_SEGMENT;
  for (const void* cmd = DZcrash_async_macho_find_command(image, type); cmd != nullptr;
       cmd = DZcrash_async_macho_next_command_type(image, cmd, type)) {
    uint64_t vmaddr, vmsize, fileoff, filesize;
    uint32_t nsects;
    std::string name;
    const uint8_t* sections;
    if (image->m64) {
      dzcrash_macho_segment_command_64 seg;
      if (!DZcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0,
                                                      sizeof(seg))) {
        continue;
      }
      DZcrash_async_memcpy(&seg, cmd, sizeof(seg));
      name = fixedName(seg.segname);
      vmaddr = bo->swap64(seg.vmaddr), vmsize = bo->swap64(seg.vmsize);
      fileoff = bo->swap64(seg.fileoff), filesize = bo->swap64(seg.filesize);
      nsects = bo->swap32(seg.nsects);
      sections = static_cast<const uint8_t*>(cmd) + sizeof(seg);
    } else {
      dzcrash_macho_segment_command seg;
      if (!DZcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0,
                                                      sizeof(seg))) {
        continue;
      }
      DZcrash_async_memcpy(&seg, cmd, sizeof(seg));
      name = fixedName(seg.segname);
      vmaddr = bo->swap32(seg.vmaddr), vmsize = bo->swap32(seg.vmsize);
      fileoff = bo->swap32(seg.fileoff), filesize = bo->swap32(seg.filesize);
      nsects = bo->swap32(seg.nsects);
      sections = static_cast<const uint8_t*>(cmd) + sizeof(seg);
    }
    std::printf("segment %-16s vmaddr 0x%016" PRIx64 " vmsize 0x%" PRIx64 " fileoff 0x%" PRIx64
                " filesize 0x%" PRIx64 "\n",
                name.c_str(), vmaddr, vmsize, fileoff, filesize);
    const size_t sectSize = image->m64 ? sizeof(dzcrash_macho_section_64) : sizeof(dzcrash_macho_section);
    for (uint32_t i = 0; i < nsects; ++i) {
      const uint8_t* at = sections + i * sectSize;
      if (!DZcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(at), 0,
                                                      sectSize)) {
        break;
      }
      uint64_t addr, size;
      std::string sectName;
      if (image->m64) {
        dzcrash_macho_section_64 sect;
        DZcrash_async_memcpy(&sect, at, sizeof(sect));
        sectName = fixedName(sect.sectname), addr = bo->swap64(sect.addr), size = bo->swap64(sect.size);
      } else {
        dzcrash_macho_section sect;
        DZcrash_async_memcpy(&sect, at, sizeof(sect));
        sectName = fixedName(sect.sectname), addr = bo->swap32(sect.addr), size = bo->swap32(sect.size);
      }
      std::printf("  section %-16s addr 0x%016" PRIx64 " size 0x%" PRIx64 "\n", sectName.c_str(), addr, size);
    }
  }
}

void printSymbols(dzcrash_async_macho* image) {
  dzcrash_async_macho_symtab_reader reader;
  const dzcrash_error_t err = DZcrash_async_macho_symtab_reader_init(&reader, image);
  if (err != DZCRASH_OK) {
    std::printf("symbols: %s\n", DZcrash_async_strerror(err));
    return;
  }
  std::printf("symbols: %u\n", reader.nsyms);
  for (uint32_t i = 0; i < reader.nsyms; ++i) {
    const dzcrash_async_macho_symtab_entry entry =
        DZcrash_async_macho_symtab_reader_read(&reader, reader.symtab, i);
    const char* name = DZcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
    const bool defined = (entry.n_type & 0xEE) == DZCRASH_N_SECT;
    std::printf("  %s 0x%016" PRIx64 " type 0x%02x sect %u desc 0x%04x %s\n",
                defined ? "defined  " : "undefined",
                entry.normalized_value + static_cast<uint64_t>(image->vmaddr_slide), entry.n_type,
                entry.n_sect, entry.n_desc, name != nullptr ? name : "(bad name)");
  }
  DZcrash_async_macho_symtab_reader_free(&reader);
}

void printFound(uint64_t address, const char* name, void*) {
  std::printf("0x%016" PRIx64 " %s\n", address, name);
}

// Both lookups, as the report writer runs them.
int printSymbol(dzcrash_async_macho* image, const char* path, uint64_t pc) {
  dzcrash_async_symbol_cache cache;
  DZcrash_async_symbol_cache_init(&cache);
  const dzcrash_error_t err =
      DZcrash_async_find_symbol(image, DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL, &cache, pc, printFound, nullptr);
  DZcrash_async_symbol_cache_free(&cache);
  if (err != DZCRASH_OK) {
    std::fprintf(stderr, "%s: 0x%" PRIx64 ": %s\n", path, pc, DZcrash_async_strerror(err));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool symbol = argc == 4 && std::strcmp(argv[1], "--symbol") == 0;
  uint64_t pc = 0;
  if (symbol) {
    char* end = nullptr;
    errno = 0;
    pc = std::strtoull(argv[2], &end, 0);
    if (errno != 0 || end == argv[2] || *end != '\0') {
      std::fprintf(stderr, "%s: not an address: %s\n", argv[0], argv[2]);
      return 2;
    }
  } else if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n       %s --symbol ADDR FILE\n", argv[0], argv[0]);
    return 2;
  }
  const char* path = argv[argc - 1];
  std::string error;
  auto file = DZCrashMachOFile::load(path, DZCrashMachOFile::kAtTextVmaddr, &error);
  if (!file) {
    std::fprintf(stderr, "%s: %s\n", path, error.c_str());
    return 1;
  }
  dzcrash_async_macho image;
  const dzcrash_error_t err = DZcrash_nasync_macho_init(&image, file->task(), path, file->headerAddress());
  if (err != DZCRASH_OK) {
    std::fprintf(stderr, "%s: %s\n", path, DZcrash_async_strerror(err));
    return 1;
  }
  if (symbol) {
    const int status = printSymbol(&image, path, pc);
    DZcrash_nasync_macho_free(&image);
    return status;
  }
  const dzcrash_macho_header* header = DZcrash_async_macho_header(&image);
  std::printf("file %s\n", path);
  std::printf("magic 0x%08x cputype 0x%x cpusubtype 0x%x filetype %u ncmds %u sizeofcmds %u flags 0x%x\n",
              header->magic, DZcrash_async_macho_cpu_type(&image), DZcrash_async_macho_cpu_subtype(&image),
              image.byteorder->swap32(header->filetype), image.ncmds,
              image.byteorder->swap32(header->sizeofcmds), image.byteorder->swap32(header->flags));
  std::printf("header size %u, 64-bit %s, __TEXT vmaddr 0x%016" PRIx64 " vmsize 0x%" PRIx64 ", slide %" PRId64
              "\n",
              DZcrash_async_macho_header_size(&image), image.m64 ? "yes" : "no", image.text_vmaddr,
              image.text_size, image.vmaddr_slide);
  printSegments(&image);
  printSymbols(&image);
  DZcrash_nasync_macho_free(&image);
  return 0;
}
