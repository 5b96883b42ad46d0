#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"

using namespace dzcrash;

#if defined(__x86_64__)
// An exported function of four bytes, followed by code that the dynamic symbol table does not list
// (its symbol is global but not exported).
extern "C" void dz_test_sized_export();
extern "C" char dzcrash_test_unlisted_code[];
__asm__(R"(
  .pushsection .text
  .globl dz_test_sized_export
  .type dz_test_sized_export, @function
dz_test_sized_export:
  nop
  nop
  nop
  ret
  .size dz_test_sized_export, 4
  .globl dzcrash_test_unlisted_code
  .type dzcrash_test_unlisted_code, @function
dzcrash_test_unlisted_code:
  nop
  ret
  .size dzcrash_test_unlisted_code, 2
  .popsection
)");
#endif

namespace {

struct MapsLine {
  uint64_t start = 0, end = 0, offset = 0;
  std::string perms, path;
};

std::vector<MapsLine> readMaps() {
  std::vector<MapsLine> lines;
  std::ifstream in("/proc/self/maps");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string range, perms, offset, dev, inode, path;
    words >> range >> perms >> offset >> dev >> inode;
    std::getline(words >> std::ws, path);
    MapsLine out;
    out.start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    out.end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
    out.offset = std::stoull(offset, nullptr, 16);
    out.perms = perms;
    out.path = path;
    lines.push_back(out);
  }
  return lines;
}

std::string canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

// The build id as the file's section headers give it: an independent road to the same note.
std::string buildIdFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (bytes.size() < sizeof(Elf64_Ehdr)) return "";
  Elf64_Ehdr ehdr;
  std::memcpy(&ehdr, bytes.data(), sizeof(ehdr));
  for (uint16_t i = 0; i < ehdr.e_shnum; ++i) {
    Elf64_Shdr shdr;
    const size_t at = ehdr.e_shoff + i * sizeof(shdr);
    if (at + sizeof(shdr) > bytes.size()) return "";
    std::memcpy(&shdr, bytes.data() + at, sizeof(shdr));
    if (shdr.sh_type != SHT_NOTE) continue;
    for (size_t off = shdr.sh_offset; off + sizeof(Elf64_Nhdr) <= shdr.sh_offset + shdr.sh_size;) {
      Elf64_Nhdr note;
      std::memcpy(&note, bytes.data() + off, sizeof(note));
      const size_t name = off + sizeof(note);
      const size_t desc = name + ((note.n_namesz + 3) & ~3u);
      if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
          std::memcmp(bytes.data() + name, "GNU", 4) == 0) {
        std::string hex;
        char two[3];
        for (size_t k = 0; k < note.n_descsz; ++k) {
          std::snprintf(two, sizeof(two), "%02x", bytes[desc + k]);
          hex += two;
        }
        return hex;
      }
      off = desc + ((note.n_descsz + 3) & ~3u);
    }
  }
  return "";
}

std::string hex(const dzcrash_async_elf* elf) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < elf->build_id_length; ++i) {
    std::snprintf(two, sizeof(two), "%02x", elf->build_id[i]);
    out += two;
  }
  return out;
}

class LiveImages : public ::testing::Test {
 protected:
  void SetUp() override {
    const dzcrash_image_parser parser = DZcrash_elf_image_parser();
    ASSERT_TRUE(DZcrash_nasync_image_list_init(&list_, DZcrash_async_task_self(), &parser));
    ASSERT_GT(DZcrash_nasync_image_list_add_loaded(&list_), 2u);
    DZcrash_async_image_list_set_reading(&list_, true);
  }
  void TearDown() override {
    DZcrash_async_image_list_set_reading(&list_, false);
    DZcrash_nasync_image_list_free(&list_);
  }

  const dzcrash_async_elf* imageAt(uint64_t address) {
    dzcrash_async_image* image = DZcrash_async_image_containing_address(&list_, address);
    return image != nullptr ? static_cast<const dzcrash_async_elf*>(image->parsed) : nullptr;
  }

  dzcrash_async_image_list list_{};
};

struct Found {
  uint64_t address = 0;
  std::string name;
};

void remember(uint64_t address, const char* name, void* context) {
  auto* found = static_cast<Found*>(context);
  found->address = address;
  found->name = name;
}

}  // namespace

TEST_F(LiveImages, MatchTheKernelsMapsForBaseTextNameAndBuildId) {
  const std::vector<MapsLine> maps = readMaps();
  size_t checked = 0;
  bool sawVdso = false;
  for (auto* image = DZcrash_async_image_list_next(&list_, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(&list_, image)) {
    const auto* elf = static_cast<const dzcrash_async_elf*>(image->parsed);
    SCOPED_TRACE(image->name);
    ASSERT_NE(elf, nullptr);
    EXPECT_EQ(elf->header_addr, image->header_address);
    EXPECT_EQ(image->size, elf->text_end - image->header_address);

    if (std::string(image->name).rfind("linux-vdso", 0) == 0) {
      // The vDSO has no file: the kernel names its mapping.
      bool found = false;
      for (const MapsLine& line : maps) found |= line.path == "[vdso]" && line.start == elf->header_addr;
      EXPECT_TRUE(found);
      sawVdso = true;
      continue;
    }
    const std::string path = canonical(image->name);
    bool base = false, text = false;
    for (const MapsLine& line : maps) {
      if (line.path != path) continue;
      base |= line.start == elf->header_addr && line.offset == 0;
      text |= line.perms.find('x') != std::string::npos && line.start == elf->text_start &&
              line.end == elf->text_end;
    }
    EXPECT_TRUE(base) << "header 0x" << std::hex << elf->header_addr;
    EXPECT_TRUE(text) << "text 0x" << std::hex << elf->text_start << "-0x" << elf->text_end;
    const std::string fromFile = buildIdFromFile(path);
    EXPECT_EQ(hex(elf), fromFile);

    // The unwind index starts with its version byte, 1.
    if (elf->eh_frame_hdr_address != 0) {
      uint8_t version = 0;
      ASSERT_EQ(
          DZcrash_async_task_read_uint8(DZcrash_async_task_self(), elf->eh_frame_hdr_address, 0, &version),
          DZCRASH_OK);
      EXPECT_EQ(version, 1);
    }
    ++checked;
  }
  EXPECT_GE(checked, 3u);  // the test program, libc and the dynamic linker at least
  EXPECT_TRUE(sawVdso);
}

TEST_F(LiveImages, DynamicSymbolLookupAgreesWithTheDynamicLinker) {
  for (const char* name : {"getpid", "qsort", "abort", "dl_iterate_phdr"}) {
    SCOPED_TRACE(name);
    void* symbol = dlsym(RTLD_DEFAULT, name);
    ASSERT_NE(symbol, nullptr);
    const uint64_t address = reinterpret_cast<uint64_t>(symbol);
    const dzcrash_async_elf* elf = imageAt(address);
    ASSERT_NE(elf, nullptr);
    for (const uint64_t pc : {address, address + 3}) {
      Found found;
      ASSERT_EQ(DZcrash_async_elf_find_symbol_by_pc(elf, pc, remember, &found), DZCRASH_OK);
      Dl_info info;
      ASSERT_NE(dladdr(reinterpret_cast<void*>(pc), &info), 0);
      EXPECT_EQ(found.address, reinterpret_cast<uint64_t>(info.dli_saddr));
      // Aliases share an address; any of them names the function.
      EXPECT_EQ(dlsym(RTLD_DEFAULT, found.name.c_str()), info.dli_saddr) << found.name;
    }
  }

  const dzcrash_async_elf* libc = imageAt(reinterpret_cast<uint64_t>(dlsym(RTLD_DEFAULT, "getpid")));
  ASSERT_NE(libc, nullptr);
  Found found;
  EXPECT_EQ(DZcrash_async_elf_find_symbol_by_pc(libc, libc->header_addr, remember, &found),
            DZCRASH_NOT_FOUND);
}

#if defined(__x86_64__)
// Code past the end of an exported function belongs to something the table does not list: it is not
// named after that function.
TEST_F(LiveImages, ASymbolHoldsOnlyItsOwnBytes) {
  const auto exported = reinterpret_cast<uint64_t>(&dz_test_sized_export);
  const dzcrash_async_elf* self = imageAt(exported);
  ASSERT_NE(self, nullptr);
  Found found;
  ASSERT_EQ(DZcrash_async_elf_find_symbol_by_pc(self, exported + 3, remember, &found), DZCRASH_OK);
  EXPECT_EQ(found.name, "dz_test_sized_export");
  const auto unlisted = reinterpret_cast<uint64_t>(dzcrash_test_unlisted_code);
  ASSERT_EQ(unlisted, exported + 4);
  Found none;
  EXPECT_EQ(DZcrash_async_elf_find_symbol_by_pc(self, unlisted, remember, &none), DZCRASH_NOT_FOUND)
      << none.name;
}
#endif

// A symbol without a size holds the bytes up to the next symbol, whatever that one's size, and none past
// the end of its section; the lookup finds that end in the image's file (the section headers are not
// loaded), or, without the file, at the end of the load segment that holds the symbol.
TEST(ElfImage, ASymbolWithoutASizeEndsAtTheNextSymbolOrTheEndOfItsSection) {
  const std::string path = std::string(QUORVELLE_SOURCE_DIR) + "/tests/fixtures/elf/fx_unsized.so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto address = [&](const char* name) { return reinterpret_cast<uint64_t>(dlsym(library, name)); };
  const uint64_t unsized = address("fx_unsized");
  const uint64_t sized = address("fx_sized");
  const uint64_t last = address("fx_last_unsized");
  Dl_info info;
  ASSERT_NE(dladdr(reinterpret_cast<void*>(unsized), &info), 0);
  const auto header = reinterpret_cast<uint64_t>(info.dli_fbase);

  // Where the code's section and its load segment end, by the file's own headers.
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  Elf64_Ehdr ehdr;
  std::memcpy(&ehdr, file.data(), sizeof(ehdr));
  uint64_t sectionEnd = 0, segmentEnd = 0;
  for (uint16_t i = 0; i < ehdr.e_shnum; ++i) {
    Elf64_Shdr shdr;
    std::memcpy(&shdr, file.data() + ehdr.e_shoff + i * sizeof(shdr), sizeof(shdr));
    if ((shdr.sh_flags & SHF_EXECINSTR) != 0) sectionEnd = header + shdr.sh_addr + shdr.sh_size;
  }
  for (uint16_t i = 0; i < ehdr.e_phnum; ++i) {
    Elf64_Phdr phdr;
    std::memcpy(&phdr, file.data() + ehdr.e_phoff + i * sizeof(phdr), sizeof(phdr));
    if (phdr.p_type == PT_LOAD && (phdr.p_flags & PF_X) != 0)
      segmentEnd = header + phdr.p_vaddr + phdr.p_memsz;
  }
  ASSERT_EQ(sectionEnd, last + 16) << "fx_unsized.so is not laid out as src/fx_unsized.S says";
  ASSERT_GE(segmentEnd, sectionEnd + 32);

  dzcrash_async_elf elf;
  ASSERT_EQ(DZcrash_nasync_elf_init(&elf, DZcrash_async_task_self(), path.c_str(), header), DZCRASH_OK);
  dzcrash_async_elf withoutFile = elf;
  char missing[] = "/nonexistent/fx_unsized.so";
  withoutFile.name = missing;
  struct Case {
    const char* what;
    uint64_t pc;
    const char* name;         // nullptr: no symbol holds it
    const char* withoutFile;  // the same without the file
  };
  const Case cases[] = {
      {"an unsized symbol's first byte", unsized, "fx_unsized", "fx_unsized"},
      {"code before the next symbol", unsized + 24, "fx_unsized", "fx_unsized"},
      {"inside a sized symbol", sized + 8, "fx_sized", "fx_sized"},
      {"code past a sized symbol", sized + 24, nullptr, nullptr},
      {"the last symbol of the section", last + 8, "fx_last_unsized", "fx_last_unsized"},
      {"data past the end of the section", sectionEnd + 8, nullptr, "fx_last_unsized"},
      {"past the end of the segment", segmentEnd + 8, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& [image, expected] : {std::pair{&elf, c.name}, std::pair{&withoutFile, c.withoutFile}}) {
      Found found;
      const dzcrash_error_t result = DZcrash_async_elf_find_symbol_by_pc(image, c.pc, remember, &found);
      if (expected == nullptr) {
        EXPECT_EQ(result, DZCRASH_NOT_FOUND) << image->name << ": " << found.name;
      } else {
        EXPECT_EQ(result, DZCRASH_OK) << image->name;
        EXPECT_EQ(found.name, expected) << image->name;
      }
    }
  }
  DZcrash_nasync_elf_free(&elf);
  dlclose(library);
}

TEST_F(LiveImages, ProcessorOfTheHost) {
  const dzcrash_async_elf* self = imageAt(reinterpret_cast<uint64_t>(&readMaps));
  ASSERT_NE(self, nullptr);
  uint64_t type = 0, subtype = 0;
  ASSERT_TRUE(DZcrash_async_elf_processor(self, &type, &subtype));
#if defined(__x86_64__)
  EXPECT_EQ(type, 0x01000007u);
  EXPECT_EQ(subtype, 3u);
#elif defined(__aarch64__)
  EXPECT_EQ(type, 0x0100000Cu);
  EXPECT_EQ(subtype, 0u);
#endif
  dzcrash_async_elf other = *self;
  other.machine = EM_RISCV;
  EXPECT_FALSE(DZcrash_async_elf_processor(&other, &type, &subtype));
}

TEST(ElfImage, RefusesWhatIsNotAnImage) {
  const long page = sysconf(_SC_PAGESIZE);
  std::vector<uint8_t> junk(static_cast<size_t>(page), 0x5a);
  dzcrash_async_elf elf;
  EXPECT_EQ(DZcrash_nasync_elf_init(&elf, DZcrash_async_task_self(), "junk",
                                    reinterpret_cast<uint64_t>(junk.data())),
            DZCRASH_INVALID_ARGUMENT);
  // An unmapped header is an error, not a fault.
  EXPECT_EQ(DZcrash_nasync_elf_init(&elf, DZcrash_async_task_self(), "nothing", 8), DZCRASH_INVALID_ARGUMENT);

  // A 32-bit header and a header whose program headers cannot be read.
  std::memcpy(junk.data(), ELFMAG, SELFMAG);
  junk[EI_CLASS] = ELFCLASS32;
  junk[EI_DATA] = ELFDATA2LSB;
  const dzcrash_task_region region = {0x10000, junk.data(), junk.size(), true};
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, &region, 1);
  EXPECT_EQ(DZcrash_nasync_elf_init(&elf, &task, "elf32", 0x10000), DZCRASH_NOT_SUPPORTED);
  junk[EI_CLASS] = ELFCLASS64;
  Elf64_Ehdr ehdr;
  std::memcpy(&ehdr, junk.data(), sizeof(ehdr));
  ehdr.e_phentsize = sizeof(Elf64_Phdr);
  ehdr.e_phnum = 4;
  ehdr.e_phoff = 0x100000;
  std::memcpy(junk.data(), &ehdr, sizeof(ehdr));
  EXPECT_EQ(DZcrash_nasync_elf_init(&elf, &task, "far phdrs", 0x10000), DZCRASH_INVALID_DATA);
}
