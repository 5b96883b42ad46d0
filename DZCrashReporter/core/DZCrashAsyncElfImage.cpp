#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace dzcrash {

namespace {

// Bounds on loops over data that a damaged image controls.
constexpr uint64_t kMaxNotesBytes = 1 << 16;
constexpr uint64_t kMaxDynamicEntries = 4096;
constexpr uint64_t kMaxSymbols = 1 << 22;
constexpr size_t kSymbolChunk = 128;

// Pointer encodings of the .eh_frame_hdr fields (format in the low four bits, application above).
constexpr uint8_t kEhPeAbsptr = 0x00;
constexpr uint8_t kEhPeUdata4 = 0x03;
constexpr uint8_t kEhPeUdata8 = 0x04;
constexpr uint8_t kEhPeSdata4 = 0x0B;
constexpr uint8_t kEhPeSdata8 = 0x0C;
constexpr uint8_t kEhPeAbsolute = 0x00;
constexpr uint8_t kEhPePcrel = 0x10;
constexpr uint8_t kEhPeDatarel = 0x30;

// Mach cpu types and subtypes, the report's processor encoding.
constexpr uint64_t kCpuArch64 = 0x01000000;
constexpr uint64_t kCpuTypeX86 = 7;
constexpr uint64_t kCpuTypeArm = 12;
constexpr uint64_t kCpuSubtypeX86All = 3;
constexpr uint64_t kCpuSubtypeArmAll = 0;
constexpr uint64_t kCpuSubtypeArm64All = 0;

const dzcrash_async_byteorder_t* host() {
  return DZcrash_async_byteorder_little_endian();
}

uint64_t pageDown(uint64_t value) {
  return value & ~(DZcrash_async_page_size() - 1);
}

uint64_t pageUp(uint64_t value) {
  const uint64_t mask = DZcrash_async_page_size() - 1;
  return value > UINT64_MAX - mask ? UINT64_MAX & ~mask : (value + mask) & ~mask;
}

// Finds the GNU build id among the notes of one PT_NOTE segment.
void readBuildId(dzcrash_async_elf* image, uint64_t address, uint64_t size) {
  if (size > kMaxNotesBytes) size = kMaxNotesBytes;
  uint64_t offset = 0;
  while (offset + sizeof(ElfW(Nhdr)) <= size) {
    ElfW(Nhdr) note;
    if (DZcrash_async_task_memcpy(image->task, address, static_cast<int64_t>(offset), &note, sizeof(note)) !=
        DZCRASH_OK) {
      return;
    }
    const uint64_t nameSize = (static_cast<uint64_t>(note.n_namesz) + 3) & ~3ull;
    const uint64_t descSize = (static_cast<uint64_t>(note.n_descsz) + 3) & ~3ull;
    const uint64_t name = offset + sizeof(note);
    const uint64_t desc = name + nameSize;
    if (desc + descSize > size) return;
    char owner[4];
    if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && note.n_descsz > 0 &&
        note.n_descsz <= DZCRASH_ELF_BUILD_ID_MAX &&
        DZcrash_async_task_memcpy(image->task, address, static_cast<int64_t>(name), owner, 4) == DZCRASH_OK &&
        DZcrash_async_strncmp(owner, "GNU", 4) == 0 &&
        DZcrash_async_task_memcpy(image->task, address, static_cast<int64_t>(desc), image->build_id,
                                  note.n_descsz) == DZCRASH_OK) {
      image->build_id_length = note.n_descsz;
      return;
    }
    offset = desc + descSize;
  }
}

// Counts the symbols of a DT_GNU_HASH table: one past the last index any hash chain reaches.
uint64_t countGnuHashSymbols(dzcrash_task_t task, uint64_t table) {
  uint32_t head[4];  // nbuckets, symoffset, bloom size, bloom shift
  if (DZcrash_async_task_memcpy(task, table, 0, head, sizeof(head)) != DZCRASH_OK) return 0;
  const uint64_t buckets = table + sizeof(head) + static_cast<uint64_t>(head[2]) * sizeof(ElfW(Addr));
  uint32_t last = 0;
  for (uint32_t i = 0; i < head[0] && i < kMaxSymbols; ++i) {
    uint32_t bucket = 0;
    if (DZcrash_async_task_read_uint32(task, host(), buckets, static_cast<int64_t>(i) * 4, &bucket) !=
        DZCRASH_OK) {
      return 0;
    }
    if (bucket > last) last = bucket;
  }
  if (last < head[1]) return head[1];
  const uint64_t chains = buckets + static_cast<uint64_t>(head[0]) * 4;
  for (uint64_t index = last; index < kMaxSymbols; ++index) {
    uint32_t hash = 0;
    if (DZcrash_async_task_read_uint32(task, host(), chains, static_cast<int64_t>(index - head[1]) * 4,
                                       &hash) != DZCRASH_OK) {
      return 0;
    }
    if ((hash & 1) != 0) return index + 1;
  }
  return 0;
}

// Reads the dynamic section for the symbol and string tables.
void readDynamic(dzcrash_async_elf* image, uint64_t address, uint64_t size) {
  uint64_t symtab = 0, strtab = 0, strsz = 0, syment = sizeof(ElfW(Sym)), hash = 0, gnuHash = 0;
  const uint64_t count = size / sizeof(ElfW(Dyn));
  for (uint64_t i = 0; i < count && i < kMaxDynamicEntries; ++i) {
    ElfW(Dyn) dyn;
    if (DZcrash_async_task_memcpy(image->task, address, static_cast<int64_t>(i * sizeof(dyn)), &dyn,
                                  sizeof(dyn)) != DZCRASH_OK) {
      return;
    }
    if (dyn.d_tag == DT_NULL) break;
    switch (dyn.d_tag) {
      case DT_SYMTAB:
        symtab = dyn.d_un.d_ptr;
        break;
      case DT_STRTAB:
        strtab = dyn.d_un.d_ptr;
        break;
      case DT_STRSZ:
        strsz = dyn.d_un.d_val;
        break;
      case DT_SYMENT:
        syment = dyn.d_un.d_val;
        break;
      case DT_HASH:
        hash = dyn.d_un.d_ptr;
        break;
      case DT_GNU_HASH:
        gnuHash = dyn.d_un.d_ptr;
        break;
      default:
        break;
    }
  }
  if (symtab == 0 || strtab == 0 || syment != sizeof(ElfW(Sym))) return;
  // The dynamic linker rewrites these entries to task addresses in most images; where it leaves them
  // alone (the vDSO, read-only dynamic sections) they are still image addresses below the header.
  auto relocate = [image](uint64_t value) {
    return value != 0 && value < image->header_addr ? value + image->load_bias : value;
  };
  symtab = relocate(symtab);
  strtab = relocate(strtab);
  hash = relocate(hash);
  gnuHash = relocate(gnuHash);

  uint64_t symbols = 0;
  if (hash != 0) {
    uint32_t nchain = 0;
    if (DZcrash_async_task_read_uint32(image->task, host(), hash, 4, &nchain) == DZCRASH_OK) symbols = nchain;
  } else if (gnuHash != 0) {
    symbols = countGnuHashSymbols(image->task, gnuHash);
  }
  if (symbols > kMaxSymbols) symbols = kMaxSymbols;
  image->dynsym_address = symtab;
  image->dynstr_address = strtab;
  image->dynstr_size = strsz;
  image->symbol_count = symbols;
}

// The .eh_frame address in the header at `hdr` (its second field), for the encodings linkers write
// there: a 4- or 8-byte value, absolute, relative to the field or to the header. 0 otherwise.
uint64_t readEhFramePointer(dzcrash_task_t task, uint64_t hdr) {
  uint8_t head[4];  // version, eh_frame_ptr encoding, fde_count encoding, table encoding
  if (DZcrash_async_task_memcpy(task, hdr, 0, head, sizeof(head)) != DZCRASH_OK || head[0] != 1) return 0;
  const uint8_t format = head[1] & 0x0F;
  const uint8_t application = head[1] & 0x70;
  uint64_t value = 0;
  if (format == kEhPeUdata4 || format == kEhPeSdata4) {
    uint32_t word = 0;
    if (DZcrash_async_task_read_uint32(task, host(), hdr, 4, &word) != DZCRASH_OK) return 0;
    value = format == kEhPeSdata4 ? static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(word)))
                                  : word;
  } else if (format == kEhPeAbsptr || format == kEhPeUdata8 || format == kEhPeSdata8) {
    if (DZcrash_async_task_read_uint64(task, host(), hdr, 4, &value) != DZCRASH_OK) return 0;
  } else {
    return 0;
  }
  switch (application) {
    case kEhPeAbsolute:
      return value;
    case kEhPePcrel:
      return hdr + 4 + value;
    case kEhPeDatarel:
      return hdr + value;
    default:
      return 0;
  }
}

// Reads `length` bytes at `offset` of an open file. async-signal-safe.
bool readFileAt(int fd, uint64_t offset, void* dest, size_t length) {
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      lseek(fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) {
    return false;
  }
  auto* at = static_cast<uint8_t*>(dest);
  while (length > 0) {
    const ssize_t n = read(fd, at, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Where section `index`, which holds the symbol at `address`, ends in the task, by the section headers of
// the image's file: no load segment holds them. 0 when the file cannot be read, when its header is not
// the loaded one (the file was replaced since), or when the section does not hold the symbol.
// async-signal-safe.
uint64_t sectionEndFromFile(const dzcrash_async_elf* image, uint16_t index, uint64_t address) {
  if (image->name == nullptr || image->name[0] == '\0' || index == SHN_UNDEF || index >= SHN_LORESERVE)
    return 0;
  Elf64_Ehdr loaded;
  if (DZcrash_async_task_memcpy(image->task, image->header_addr, 0, &loaded, sizeof(loaded)) != DZCRASH_OK)
    return 0;
  const int fd = open(image->name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  Elf64_Ehdr header;
  Elf64_Shdr section;
  bool read = readFileAt(fd, 0, &header, sizeof(header));
  const auto* fileBytes = reinterpret_cast<const uint8_t*>(&header);
  const auto* loadedBytes = reinterpret_cast<const uint8_t*>(&loaded);
  for (size_t i = 0; read && i < sizeof(header); ++i) read = fileBytes[i] == loadedBytes[i];
  read = read && header.e_shentsize == sizeof(Elf64_Shdr) && index < header.e_shnum &&
         readFileAt(fd, header.e_shoff + static_cast<uint64_t>(index) * sizeof(section), &section,
                    sizeof(section));
  close(fd);
  if (!read || (section.sh_flags & SHF_ALLOC) == 0) return 0;
  uint64_t start = 0;
  uint64_t end = 0;
  if (__builtin_add_overflow(section.sh_addr, image->load_bias, &start) ||
      __builtin_add_overflow(start, section.sh_size, &end)) {
    return 0;
  }
  return start <= address && address <= end ? end : 0;
}

// Where the load segment that holds `address` ends in the task; 0 when none does. async-signal-safe.
uint64_t loadSegmentEnd(const dzcrash_async_elf* image, uint64_t address) {
  Elf64_Ehdr ehdr;
  if (DZcrash_async_task_memcpy(image->task, image->header_addr, 0, &ehdr, sizeof(ehdr)) != DZCRASH_OK ||
      ehdr.e_phentsize != sizeof(Elf64_Phdr)) {
    return 0;
  }
  for (uint16_t i = 0; i < ehdr.e_phnum; ++i) {
    Elf64_Phdr ph;
    if (DZcrash_async_task_memcpy(image->task, image->header_addr,
                                  static_cast<int64_t>(ehdr.e_phoff + i * sizeof(ph)), &ph,
                                  sizeof(ph)) != DZCRASH_OK) {
      return 0;
    }
    const uint64_t start = image->load_bias + ph.p_vaddr;
    if (ph.p_type == PT_LOAD && address >= start && address - start < ph.p_memsz) return start + ph.p_memsz;
  }
  return 0;
}

}  // namespace

dzcrash_error_t DZcrash_async_elf_init(dzcrash_async_elf* image, dzcrash_task_t task, char* name,
                                       uint64_t header_address) {
  DZcrash_async_memset(image, 0, sizeof(*image));
  image->task = task;
  image->header_addr = header_address;

  unsigned char ident[EI_NIDENT];
  if (DZcrash_async_task_memcpy(task, header_address, 0, ident, sizeof(ident)) != DZCRASH_OK ||
      DZcrash_async_strncmp(reinterpret_cast<const char*>(ident), ELFMAG, SELFMAG) != 0) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  if (ident[EI_CLASS] != ELFCLASS64 || ident[EI_DATA] != ELFDATA2LSB) return DZCRASH_NOT_SUPPORTED;
  Elf64_Ehdr ehdr;
  if (DZcrash_async_task_memcpy(task, header_address, 0, &ehdr, sizeof(ehdr)) != DZCRASH_OK) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  if (ehdr.e_phentsize != sizeof(Elf64_Phdr) || ehdr.e_phnum == 0) return DZCRASH_INVALID_DATA;
  image->machine = ehdr.e_machine;

  // The header's own load segment tells the bias; the other segments are placed from it.
  bool haveBias = false;
  for (int pass = 0; pass < 2; ++pass) {
    for (uint16_t i = 0; i < ehdr.e_phnum; ++i) {
      Elf64_Phdr ph;
      if (DZcrash_async_task_memcpy(task, header_address, static_cast<int64_t>(ehdr.e_phoff + i * sizeof(ph)),
                                    &ph, sizeof(ph)) != DZCRASH_OK) {
        return DZCRASH_INVALID_DATA;
      }
      if (pass == 0) {
        if (ph.p_type == PT_LOAD && ph.p_offset == 0) {
          image->load_bias = header_address - ph.p_vaddr;
          haveBias = true;
          break;
        }
        continue;
      }
      const uint64_t at = image->load_bias + ph.p_vaddr;
      switch (ph.p_type) {
        case PT_LOAD:
          if ((ph.p_flags & PF_X) != 0) {
            const uint64_t start = pageDown(at);
            const uint64_t end = pageUp(at + ph.p_memsz);
            if (image->text_end == 0 || start < image->text_start) image->text_start = start;
            if (end > image->text_end) image->text_end = end;
          }
          break;
        case PT_NOTE:
          if (image->build_id_length == 0) readBuildId(image, at, ph.p_memsz);
          break;
        case PT_GNU_EH_FRAME:
          image->eh_frame_hdr_address = at;
          image->eh_frame_hdr_size = ph.p_memsz;
          break;
        case PT_DYNAMIC:
          readDynamic(image, at, ph.p_memsz);
          break;
        default:
          break;
      }
    }
    if (!haveBias) return DZCRASH_INVALID_DATA;
  }

  if (image->eh_frame_hdr_address != 0) {
    const uint64_t ehFrame = readEhFramePointer(task, image->eh_frame_hdr_address);
    for (uint16_t i = 0; i < ehdr.e_phnum && ehFrame != 0; ++i) {
      Elf64_Phdr ph;
      if (DZcrash_async_task_memcpy(task, header_address, static_cast<int64_t>(ehdr.e_phoff + i * sizeof(ph)),
                                    &ph, sizeof(ph)) != DZCRASH_OK) {
        break;
      }
      const uint64_t start = image->load_bias + ph.p_vaddr;
      if (ph.p_type == PT_LOAD && ehFrame >= start && ehFrame - start < ph.p_memsz) {
        image->eh_frame_address = ehFrame;
        image->eh_frame_segment_end = start + ph.p_memsz;
        break;
      }
    }
  }

  image->name = name;
  return DZCRASH_OK;
}

dzcrash_error_t DZcrash_nasync_elf_init(dzcrash_async_elf* image, dzcrash_task_t task, const char* name,
                                        uint64_t header_address) {
  const dzcrash_error_t err = DZcrash_async_elf_init(image, task, nullptr, header_address);
  if (err != DZCRASH_OK) return err;
  image->name = strdup(name != nullptr ? name : "");
  return image->name != nullptr ? DZCRASH_OK : DZCRASH_NO_MEMORY;
}

void DZcrash_nasync_elf_free(dzcrash_async_elf* image) {
  std::free(image->name);
  image->name = nullptr;
}

bool DZcrash_async_elf_processor(const dzcrash_async_elf* image, uint64_t* type, uint64_t* subtype) {
  return DZcrash_async_elf_machine_processor(image->machine, type, subtype);
}

uint16_t DZcrash_async_elf_host_machine() {
#if defined(__x86_64__)
  return EM_X86_64;
#elif defined(__i386__)
  return EM_386;
#elif defined(__aarch64__)
  return EM_AARCH64;
#elif defined(__arm__)
  return EM_ARM;
#else
  return EM_NONE;
#endif
}

bool DZcrash_async_elf_machine_processor(uint16_t machine, uint64_t* type, uint64_t* subtype) {
  switch (machine) {
    case EM_X86_64:
      *type = kCpuTypeX86 | kCpuArch64;
      *subtype = kCpuSubtypeX86All;
      return true;
    case EM_386:
      *type = kCpuTypeX86;
      *subtype = kCpuSubtypeX86All;
      return true;
    case EM_AARCH64:
      *type = kCpuTypeArm | kCpuArch64;
      *subtype = kCpuSubtypeArm64All;
      return true;
    case EM_ARM:
      *type = kCpuTypeArm;
      *subtype = kCpuSubtypeArmAll;
      return true;
    default:
      return false;
  }
}

bool DZcrash_async_elf_contains_address(const dzcrash_async_elf* image, uint64_t address) {
  return address >= image->text_start && address < image->text_end;
}

dzcrash_error_t DZcrash_async_elf_find_symbol_by_pc(const dzcrash_async_elf* image, uint64_t pc,
                                                    dzcrash_async_elf_found_symbol_cb callback,
                                                    void* context) {
  if (image->symbol_count == 0) return DZCRASH_NOT_FOUND;
  // The nearest sized symbol that holds pc; the nearest symbol without a size at or below pc; and the
  // nearest of any symbol at or below pc, which ends the reach of one without a size before it. Among
  // equal addresses the first in the table.
  struct Candidate {
    bool found = false;
    uint64_t address = 0;
    uint32_t name = 0;
    uint64_t index = 0;
    uint16_t section = 0;
  };
  Candidate best;
  Candidate unsized;
  uint64_t nearest = 0;
  Elf64_Sym chunk[kSymbolChunk];
  for (uint64_t first = 0; first < image->symbol_count; first += kSymbolChunk) {
    const uint64_t n =
        image->symbol_count - first < kSymbolChunk ? image->symbol_count - first : kSymbolChunk;
    const dzcrash_error_t err = DZcrash_async_task_memcpy(image->task, image->dynsym_address,
                                                          static_cast<int64_t>(first * sizeof(Elf64_Sym)),
                                                          chunk, n * sizeof(Elf64_Sym));
    if (err != DZCRASH_OK) return err;
    for (uint64_t i = 0; i < n; ++i) {
      const Elf64_Sym& sym = chunk[i];
      const unsigned type = ELF64_ST_TYPE(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || sym.st_value == 0 ||
          (type != STT_FUNC && type != STT_OBJECT && type != STT_NOTYPE && type != STT_GNU_IFUNC)) {
        continue;
      }
      // Absolute symbols (version definitions among them) carry no image address.
      if (sym.st_shndx == SHN_ABS) continue;
      uint64_t address = 0;
      if (__builtin_add_overflow(sym.st_value, image->load_bias, &address) || address > pc) continue;
      if (address > nearest) nearest = address;
      // A symbol that ends before pc does not hold it: pc lies in code the table does not list (a local
      // function), which must not be named after the exported one before it.
      if (sym.st_size != 0 && pc - address >= sym.st_size) continue;
      Candidate& kept = sym.st_size == 0 ? unsized : best;
      if (!kept.found || address > kept.address) kept = {true, address, sym.st_name, first + i, sym.st_shndx};
    }
  }
  // A symbol without a size says nothing of where it ends: it holds pc only when no other symbol lies
  // between them, and pc lies in its section.
  if (unsized.found && unsized.address == nearest &&
      (!best.found || unsized.address > best.address || unsized.index < best.index)) {
    uint64_t end = sectionEndFromFile(image, unsized.section, unsized.address);
    if (end == 0) end = loadSegmentEnd(image, unsized.address);
    if (pc < end) best = unsized;
  }
  if (!best.found) return DZCRASH_NOT_FOUND;
  if (best.name >= image->dynstr_size) return DZCRASH_INVALID_DATA;

  char name[DZCRASH_ELF_SYMBOL_NAME_MAX];
  uint64_t available = image->dynstr_size - best.name;
  const size_t want = available < sizeof(name) - 1 ? static_cast<size_t>(available) : sizeof(name) - 1;
  size_t copied = 0;
  DZcrash_async_task_read_partial(image->task, image->dynstr_address + best.name, name, want, &copied);
  name[copied] = '\0';
  if (copied == 0 && want > 0) return DZCRASH_INVALID_DATA;
  callback(best.address, name, context);
  return DZCRASH_OK;
}

uint64_t DZcrash_async_elf_code_size(const dzcrash_async_elf& elf, uint64_t header_address) {
  return elf.text_end > header_address ? elf.text_end - header_address : 0;
}

dzcrash_image_parser DZcrash_elf_image_parser() {
  return DZcrash_image_parser_for<dzcrash_async_elf, DZCRASH_IMAGE_FORMAT_ELF, DZcrash_nasync_elf_init,
                                  DZcrash_nasync_elf_free, DZcrash_async_elf_code_size>();
}

}  // namespace dzcrash
