#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"
#include "tests/DZCrashReporter/MachOFixture.h"
#include "tests/support/CaseName.h"

using namespace dzcrash;
using namespace dzcrash::fixtures;

namespace {

dzcrash_error_t lookup(dzcrash_async_macho* image, uint64_t pc, Found* found) {
  *found = Found();
  return DZcrash_async_macho_find_symbol_by_pc(image, pc, remember, found);
}

size_t countCommands(const dzcrash_async_macho* image) {
  size_t n = 0;
  for (const void* cmd = DZcrash_async_macho_next_command(image, nullptr); cmd != nullptr;
       cmd = DZcrash_async_macho_next_command(image, cmd)) {
    ++n;
  }
  return n;
}

struct FixtureCase {
  const char* file;
  uint32_t cputype;
};
// What the runner shows as the case's parameter.
void PrintTo(const FixtureCase& c, std::ostream* os) {
  *os << c.file;
}

const FixtureCase kFixtureCases[] = {
    {"x86_64/libfx.dylib", 0x01000007},     {"x86_64/fx_exe", 0x01000007},
    {"arm64/libfx.dylib", 0x0100000C},      {"arm64/fx_exe", 0x0100000C},
    {"arm64/libfx_many.dylib", 0x0100000C}, {"arm64_32/libfx.dylib", 0x0200000C},
    {"arm64_32/fx_exe", 0x0200000C},        {"armv7/libfx.dylib", 12},
};

class MachOFixtureTest : public ::testing::TestWithParam<FixtureCase> {};

}  // namespace

TEST_P(MachOFixtureTest, AgreesWithTheToolOracles) {
  const std::string file = GetParam().file;
  const OracleHeaders oracle = parsePrivateHeaders(readText(kFixtures + file + ".private-headers.txt"));
  const auto symbols = parseNm(readText(kFixtures + file + ".nm.txt"));
  ASSERT_FALSE(oracle.sections.empty());
  ASSERT_FALSE(symbols.empty());

  LoadedFixture fixture(file);
  ASSERT_EQ(fixture.status(), DZCRASH_OK);
  dzcrash_async_macho* image = fixture.image();

  // Header and __TEXT.
  const bool is64 = oracle.magic == "MH_MAGIC_64";
  EXPECT_EQ(DZcrash_async_macho_header_size(image), is64 ? 32u : 28u);
  EXPECT_EQ(image->m64, is64);
  EXPECT_EQ(DZcrash_async_macho_cpu_type(image), GetParam().cputype);
  EXPECT_EQ(image->ncmds, oracle.ncmds);
  EXPECT_EQ(DZcrash_async_macho_byteorder(image)->swap32(DZcrash_async_macho_header(image)->sizeofcmds),
            oracle.sizeofcmds);
  EXPECT_EQ(countCommands(image), oracle.ncmds);
  EXPECT_EQ(image->text_vmaddr, oracle.textVmaddr);
  EXPECT_EQ(image->text_size, oracle.textVmsize);
  EXPECT_EQ(image->vmaddr_slide, static_cast<int64_t>(kSlide));
  EXPECT_TRUE(DZcrash_async_macho_contains_address(image, image->header_addr));
  EXPECT_TRUE(DZcrash_async_macho_contains_address(image, image->header_addr + oracle.textVmsize - 1));
  EXPECT_FALSE(DZcrash_async_macho_contains_address(image, image->header_addr + oracle.textVmsize));
  EXPECT_FALSE(DZcrash_async_macho_contains_address(image, image->header_addr - 1));

  // Every section maps at its slid address with its size.
  for (const OracleSection& section : oracle.sections) {
    SCOPED_TRACE(section.segname + "," + section.sectname);
    dzcrash_async_mobject mobj;
    ASSERT_EQ(
        DZcrash_async_macho_map_section(image, section.segname.c_str(), section.sectname.c_str(), &mobj),
        DZCRASH_OK);
    EXPECT_EQ(DZcrash_async_mobject_base_address(&mobj), section.addr + kSlide);
    EXPECT_EQ(DZcrash_async_mobject_length(&mobj), section.size);
    DZcrash_async_mobject_free(&mobj);
  }

  // Every symbol is found at its first byte and at its last (the byte before the next symbol, or the
  // end of the section that holds the last one); by name too.
  auto sectionEnd = [&](uint64_t address) {
    for (const OracleSection& section : oracle.sections) {
      if (address >= section.addr && address < section.addr + section.size)
        return section.addr + section.size;
    }
    return address + 1;
  };
  for (auto it = symbols.begin(); it != symbols.end(); ++it) {
    const uint64_t start = it->first;
    const auto next = std::next(it);
    const uint64_t last = (next != symbols.end() ? next->first : sectionEnd(start)) - 1;
    for (const uint64_t pc : {start, last}) {
      SCOPED_TRACE(*it->second.begin() + " at " + std::to_string(pc));
      Found found;
      ASSERT_EQ(lookup(image, pc + kSlide, &found), DZCRASH_OK);
      EXPECT_EQ(it->second.count(found.name), 1u) << found.name;
      EXPECT_EQ(found.address & ~1ull, start + kSlide);
    }
    uint64_t byName = 0;
    ASSERT_EQ(DZcrash_async_macho_find_symbol_by_name(image, it->second.begin()->c_str(), &byName),
              DZCRASH_OK);
    EXPECT_EQ(byName & ~1ull, start + kSlide);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MachOFixtureTest, ::testing::ValuesIn(kFixtureCases),
                         [](const ::testing::TestParamInfo<FixtureCase>& info) {
                           return quorvelle::test::caseName(info.param.file);
                         });

TEST(MachOImage, ThumbEntryPointsReportOddAddressesAndResolveFromTheirFirstByte) {
  LoadedFixture fixture("armv7/libfx.dylib");
  ASSERT_EQ(fixture.status(), DZCRASH_OK);
  const auto symbols = parseNm(readText(kFixtures + "armv7/libfx.dylib.nm.txt"));
  const std::map<std::string, bool> thumb = {{"_fx_thumb_leaf", true},
                                             {"_fx_thumb_frame", true},
                                             {"_fx_thumb_local", true},
                                             {"_fx_arm_leaf", false}};
  for (const auto& [address, names] : symbols) {
    const auto kind = thumb.find(*names.begin());
    if (kind == thumb.end()) continue;
    Found found;
    // The even first byte is inside the function, even though the symbol's address is odd.
    ASSERT_EQ(lookup(fixture.image(), address + kSlide, &found), DZCRASH_OK);
    EXPECT_EQ(found.name, kind->first);
    EXPECT_EQ(found.address, address + kSlide + (kind->second ? 1 : 0));
  }
}

TEST(MachOImage, PcOutsideEverySymbolIsNotFound) {
  LoadedFixture fixture("x86_64/libfx.dylib");
  ASSERT_EQ(fixture.status(), DZCRASH_OK);
  Found found;
  // The header of a library lies below its first symbol.
  EXPECT_EQ(lookup(fixture.image(), fixture.image()->header_addr, &found), DZCRASH_NOT_FOUND);
  // Below the slide the unslid pc would wrap around to the top of the address space.
  EXPECT_EQ(lookup(fixture.image(), kSlide - 0x10, &found), DZCRASH_NOT_FOUND);
  EXPECT_FALSE(found.called);
  uint64_t address = 0;
  EXPECT_EQ(DZcrash_async_macho_find_symbol_by_name(fixture.image(), "fx_frame", &address),
            DZCRASH_NOT_FOUND);
}

TEST(MachOImage, MissingSegmentsAndSectionsAreNotFound) {
  LoadedFixture fixture("arm64/libfx.dylib");
  ASSERT_EQ(fixture.status(), DZCRASH_OK);
  dzcrash_async_mobject mobj;
  EXPECT_EQ(DZcrash_async_macho_map_section(fixture.image(), "__TEXT", "__nothing", &mobj),
            DZCRASH_NOT_FOUND);
  EXPECT_EQ(DZcrash_async_macho_map_section(fixture.image(), "__NOPE", "__text", &mobj), DZCRASH_NOT_FOUND);
  dzcrash_async_macho_mapped_segment seg;
  EXPECT_EQ(DZcrash_async_macho_map_segment(fixture.image(), "__NOPE", &seg), DZCRASH_NOT_FOUND);
  ASSERT_EQ(DZcrash_async_macho_map_segment(fixture.image(), "__LINKEDIT", &seg), DZCRASH_OK);
  EXPECT_GT(seg.fileoff, 0u);
  DZcrash_async_macho_mapped_segment_free(&seg);
}

namespace {

uint64_t vmSizeKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7));
  }
  return 0;
}

}  // namespace

TEST(MachOImage, RefusesUniversalAndObjectFilesWithoutLeaking) {
  struct Case {
    const char* file;
    dzcrash_error_t expected;
  };
  for (const Case& c : {Case{"libfx_fat.dylib", DZCRASH_INVALID_ARGUMENT},
                        Case{"arm64/fx_frameless.o", DZCRASH_INVALID_ARGUMENT}}) {
    SCOPED_TRACE(c.file);
    std::vector<uint8_t> bytes = readFile(kFixtures + c.file);
    ASSERT_GT(bytes.size(), 64u);
    const dzcrash_task_region region = {0x10000, bytes.data(), bytes.size(), true};
    dzcrash_task task;
    DZcrash_task_init_buffer(&task, &region, 1);
    // Name copies go through the heap (the leak checker of the sanitizer build sees them) and the
    // load-command copy through mappings (the address-space size shows them).
    const uint64_t before = vmSizeKiB();
    for (int i = 0; i < 256; ++i) {
      dzcrash_async_macho image;
      ASSERT_EQ(DZcrash_nasync_macho_init(&image, &task, c.file, 0x10000), c.expected);
    }
    EXPECT_LT(vmSizeKiB() - before, 256 * DZcrash_async_page_size() / 1024 / 2);
    std::string error;
    EXPECT_EQ(DZCrashMachOFile::fromBytes(bytes, DZCrashMachOFile::kAtTextVmaddr, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
  // A header that cannot be read at all.
  dzcrash_task empty;
  DZcrash_task_init_buffer(&empty, nullptr, 0);
  dzcrash_async_macho image;
  EXPECT_EQ(DZcrash_nasync_macho_init(&image, &empty, "none", 0x1000), DZCRASH_INTERNAL);
}

namespace {

// The x86_64 library's bytes as a file-layout task (load commands follow the header in both layouts),
// with helpers to patch its load commands.
class MutatedImage : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = readFile(kFixtures + "x86_64/libfx.dylib");
    ASSERT_GT(bytes_.size(), 4096u);
    LoadedFixture reference("x86_64/libfx.dylib");
    ASSERT_EQ(reference.status(), DZCRASH_OK);
    ncmds_ = reference.image()->ncmds;
    // Offsets of every load command in the file.
    uint32_t at = 32;
    for (uint32_t i = 0; i < ncmds_; ++i) {
      offsets_.push_back(at);
      at += u32(at + 4);
    }
  }

  uint32_t u32(size_t offset) const {
    uint32_t v;
    std::memcpy(&v, bytes_.data() + offset, 4);
    return v;
  }
  void put32(size_t offset, uint32_t v) { std::memcpy(bytes_.data() + offset, &v, 4); }
  // Offset of the first command of this type.
  size_t command(uint32_t type) const {
    for (uint32_t off : offsets_) {
      if (u32(off) == type) return off;
    }
    ADD_FAILURE() << "no command " << type;
    return 0;
  }

  dzcrash_error_t parse() {
    region_ = {0, bytes_.data(), bytes_.size(), true};
    DZcrash_task_init_buffer(&task_, &region_, 1);
    const dzcrash_error_t err = DZcrash_nasync_macho_init(&image_, &task_, "mutated", 0);
    parsed_ = err == DZCRASH_OK;
    return err;
  }
  void TearDown() override {
    if (parsed_) DZcrash_nasync_macho_free(&image_);
  }

  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> offsets_;
  uint32_t ncmds_ = 0;
  dzcrash_task_region region_{};
  dzcrash_task task_{};
  dzcrash_async_macho image_{};
  bool parsed_ = false;
};

}  // namespace

TEST_F(MutatedImage, BadCommandSizesEndTheWalk) {
  struct Case {
    const char* what;
    int index;  // command to patch; -1 = the header's sizeofcmds
    uint32_t value;
    size_t commandsSeen;
  };
  const uint32_t sizeofcmds = u32(20);
  const uint32_t lastStart = offsets_.back() - 32;
  const Case cases[] = {
      {"cmdsize 4 in the second command", 1, 4, 1},
      {"cmdsize 0 in the third command", 2, 0, 2},
      {"cmdsize that wraps", 3, 0xFFFFFFF8u, 3},
      {"last command passes the end of sizeofcmds", static_cast<int>(ncmds_) - 1, sizeofcmds - lastStart + 8,
       ncmds_ - 1},
      {"sizeofcmds cuts the last command", -1, sizeofcmds - 4, ncmds_ - 1},
      {"sizeofcmds of 7 bytes", -1, 7, 0},
  };
  const std::vector<uint8_t> original = bytes_;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bytes_ = original;
    if (c.index < 0) {
      put32(20, c.value);
    } else {
      put32(offsets_[static_cast<size_t>(c.index)] + 4, c.value);
    }
    if (parse() == DZCRASH_OK) {
      EXPECT_EQ(countCommands(&image_), c.commandsSeen);
      // Whatever survives still answers without touching anything outside its mapping.
      Found found;
      lookup(&image_, 0x700, &found);
      DZcrash_nasync_macho_free(&image_);
      parsed_ = false;
    } else {
      // The __TEXT command is the first: a walk that cannot reach it refuses the image.
      EXPECT_EQ(c.commandsSeen, 0u);
    }
  }
}

TEST_F(MutatedImage, RefusesOrReportsDamagedTables) {
  const std::vector<uint8_t> original = bytes_;
  const size_t text = command(DZCRASH_LC_SEGMENT_64);
  const size_t symtab = command(DZCRASH_LC_SYMTAB);
  const size_t dysymtab = command(DZCRASH_LC_DYSYMTAB);

  // sizeofcmds beyond the readable bytes: the load commands cannot be copied whole.
  put32(20, 0x100000);
  EXPECT_EQ(parse(), DZCRASH_NO_MEMORY);

  // A segment that claims more section headers than its command holds.
  bytes_ = original;
  put32(text + 64, 0x10000000);
  ASSERT_EQ(parse(), DZCRASH_OK);
  dzcrash_async_mobject mobj;
  EXPECT_EQ(DZcrash_async_macho_map_section(&image_, "__TEXT", "__nothing", &mobj), DZCRASH_INVALID_ARGUMENT);
  TearDown();

  struct TableCase {
    const char* what;
    size_t offset;
    uint32_t value;
    dzcrash_error_t expected;
  };
  const TableCase cases[] = {
      {"symbol table beyond __LINKEDIT", symtab + 8, 0x7FFFFFF0u, DZCRASH_INTERNAL},
      {"string table beyond __LINKEDIT", symtab + 16, 0x7FFFFFF0u, DZCRASH_INTERNAL},
      {"symbol table before __LINKEDIT", symtab + 8, 0, DZCRASH_INTERNAL},
      {"external range past the table", dysymtab + 20, 0x10000, DZCRASH_INVALID_ARGUMENT},
      // Start and count that wrap 32 bits must not slip past the bound.
      {"local range that wraps", dysymtab + 8, 0xFFFFFFFFu, DZCRASH_INVALID_ARGUMENT},
      {"string table of 0 bytes", symtab + 20, 0, DZCRASH_INVALID_ARGUMENT},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.what);
    bytes_ = original;
    put32(c.offset, c.value);
    if (std::string(c.what) == "local range that wraps") put32(dysymtab + 12, 2);
    ASSERT_EQ(parse(), DZCRASH_OK);
    Found found;
    EXPECT_EQ(lookup(&image_, 0x700, &found), c.expected);
    EXPECT_FALSE(found.called);
    TearDown();
    parsed_ = false;
  }
}

TEST_F(MutatedImage, MostNegativeSlideIsHandledWithoutOverflow) {
  // A __TEXT vmaddr of 2^63 with the header at 0 gives the slide INT64_MIN, which has no negation.
  const size_t text = command(DZCRASH_LC_SEGMENT_64);
  const uint64_t vmaddr = uint64_t{1} << 63;
  std::memcpy(bytes_.data() + text + 24, &vmaddr, sizeof(vmaddr));
  ASSERT_EQ(parse(), DZCRASH_OK);
  ASSERT_EQ(image_.vmaddr_slide, INT64_MIN);
  // pc - slide = pc + 2^63 wraps for a pc in the upper half: below the image, not inside it.
  Found found;
  EXPECT_EQ(lookup(&image_, vmaddr + 0x700, &found), DZCRASH_NOT_FOUND);
  EXPECT_FALSE(found.called);
}

namespace {

// Bytes shown at kStringBase, and an image record over them: all that task strings need.
constexpr uint64_t kStringBase = 0x40000;

struct StringMemory {
  explicit StringMemory(std::vector<char> bytes) : memory(std::move(bytes)) {
    region = {kStringBase, memory.data(), memory.size(), true};
    DZcrash_task_init_buffer(&task, &region, 1);
    image.task = &task;
  }
  StringMemory(const StringMemory&) = delete;
  StringMemory& operator=(const StringMemory&) = delete;

  std::vector<char> memory;
  dzcrash_task_region region{};
  dzcrash_task task{};
  dzcrash_async_macho image{};
};

}  // namespace

TEST(MachOImage, StringsInTheTaskStopAtUnreadableBytes) {
  const uint64_t page = DZcrash_async_page_size();
  std::vector<char> bytes(2 * page, 'x');
  const uint64_t base = kStringBase;
  // One string ends on the second page; the tail of the second page is never terminated.
  const size_t crossing = page - 5;
  bytes[page + 10] = '\0';
  StringMemory memory(std::move(bytes));
  dzcrash_async_macho& image = memory.image;

  dzcrash_async_macho_string string;
  ASSERT_EQ(DZcrash_async_macho_string_init(&string, &image, base + crossing), DZCRASH_OK);
  size_t length = 0;
  ASSERT_EQ(DZcrash_async_macho_string_get_length(&string, &length), DZCRASH_OK);
  EXPECT_EQ(length, 5u + 10u);
  const char* pointer = nullptr;
  ASSERT_EQ(DZcrash_async_macho_string_get_pointer(&string, &pointer), DZCRASH_OK);
  EXPECT_EQ(std::string(pointer), std::string(15, 'x'));
  DZcrash_async_macho_string_free(&string);

  ASSERT_EQ(DZcrash_async_macho_string_init(&string, &image, base + page + 11), DZCRASH_OK);
  EXPECT_EQ(DZcrash_async_macho_string_get_length(&string, &length), DZCRASH_INVALID_ARGUMENT);
  DZcrash_async_macho_string_free(&string);

  ASSERT_EQ(DZcrash_async_macho_string_init(&string, &image, 0), DZCRASH_OK);
  EXPECT_EQ(DZcrash_async_macho_string_get_pointer(&string, &pointer), DZCRASH_ACCESS_DENIED);
  DZcrash_async_macho_string_free(&string);
}

TEST(MachOImage, StringsSpanningManyPagesLoadWhole) {
  const uint64_t page = DZcrash_async_page_size();
  std::vector<char> bytes(40 * page, 'y');
  const size_t end = 37 * page + 123;
  bytes[end] = '\0';
  const uint64_t base = kStringBase;
  StringMemory memory(std::move(bytes));
  dzcrash_async_macho& image = memory.image;

  dzcrash_async_macho_string string;
  ASSERT_EQ(DZcrash_async_macho_string_init(&string, &image, base + 5), DZCRASH_OK);
  const char* pointer = nullptr;
  ASSERT_EQ(DZcrash_async_macho_string_get_pointer(&string, &pointer), DZCRASH_OK);
  EXPECT_EQ(std::string(pointer), std::string(end - 5, 'y'));
  size_t length = 0;
  ASSERT_EQ(DZcrash_async_macho_string_get_length(&string, &length), DZCRASH_OK);
  EXPECT_EQ(length, end - 5);
  DZcrash_async_macho_string_free(&string);

  // After the NUL the bytes run to the end of the readable region unterminated.
  ASSERT_EQ(DZcrash_async_macho_string_init(&string, &image, base + end + 1), DZCRASH_OK);
  EXPECT_EQ(DZcrash_async_macho_string_get_length(&string, &length), DZCRASH_INVALID_ARGUMENT);
  DZcrash_async_macho_string_free(&string);
}

TEST(MachOFile, ZeroFillIsCappedInTotal) {
  // Three segments, each 40 MiB in memory: __TEXT's zero fill fits the default budget, and the other
  // two show their 16 file bytes only.
  constexpr uint64_t kVmsize = 40ull << 20;
  constexpr uint64_t kPageSize = 0x1000;
  struct Segment {
    const char* name;
    uint64_t vmaddr, fileoff, filesize;
  };
  const Segment segments[] = {{"__TEXT", 0x10000000, 0, kPageSize},
                              {"__DATA", 0x20000000, kPageSize, 16},
                              {"__MORE", 0x30000000, kPageSize + 16, 16}};
  std::vector<uint8_t> bytes(kPageSize + 32, 0xAB);
  const uint32_t header[] = {DZCRASH_MH_MAGIC_64, 0x01000007, 3, 6, 3, 3 * 72, 0, 0};
  std::memcpy(bytes.data(), header, sizeof(header));
  for (size_t i = 0; i < 3; ++i) {
    dzcrash_macho_segment_command_64 seg{};
    seg.cmd = DZCRASH_LC_SEGMENT_64;
    seg.cmdsize = sizeof(seg);
    std::memcpy(seg.segname, segments[i].name, std::strlen(segments[i].name));
    seg.vmaddr = segments[i].vmaddr;
    seg.vmsize = kVmsize;
    seg.fileoff = segments[i].fileoff;
    seg.filesize = segments[i].filesize;
    std::memcpy(bytes.data() + sizeof(header) + i * sizeof(seg), &seg, sizeof(seg));
  }

  // expected: the byte read, or -1 where nothing is shown.
  struct Case {
    uint64_t maxZeroFill;
    uint64_t address;
    int expected;
  };
  const uint64_t defaultCap = DZCrashMachOFile::kDefaultMaxZeroFill;
  const Case cases[] = {
      {defaultCap, 0x10000000 + kVmsize - 1, 0}, {defaultCap, 0x20000000 + 15, 0xAB},
      {defaultCap, 0x20000000 + 16, -1},         {defaultCap, 0x30000000 + 16, -1},
      {0, 0x10000000 + kPageSize - 1, 0xAB},     {0, 0x10000000 + kPageSize, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.maxZeroFill) + " at " + std::to_string(c.address));
    std::string error;
    auto file = DZCrashMachOFile::fromBytes(bytes, DZCrashMachOFile::kAtTextVmaddr, &error, c.maxZeroFill);
    ASSERT_NE(file, nullptr) << error;
    uint8_t byte = 0;
    const dzcrash_error_t err = DZcrash_async_task_read_uint8(file->task(), c.address, 0, &byte);
    EXPECT_EQ(err == DZCRASH_OK ? int{byte} : -1, c.expected);
  }
}

TEST(MachOImage, ImageListParsesAppendedImagesAndDropsTheRest) {
  std::string error;
  auto dylib = DZCrashMachOFile::load(kFixtures + "arm64/libfx.dylib", 0x200000000, &error);
  ASSERT_NE(dylib, nullptr) << error;
  dzcrash_async_image_list list;
  const dzcrash_image_parser parser = DZcrash_macho_image_parser();
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&list, dylib->task(), &parser));
  DZcrash_nasync_image_list_append(&list, 0x200000000, "libfx.dylib");
  DZcrash_nasync_image_list_append(&list, 0x300000000, "nothing there");

  DZcrash_async_image_list_set_reading(&list, true);
  dzcrash_async_image* first = DZcrash_async_image_list_next(&list, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(DZcrash_async_image_list_next(&list, first), nullptr);
  EXPECT_EQ(DZcrash_async_image_containing_address(&list, 0x200000000 + 0x100), first);
  auto* macho = static_cast<dzcrash_async_macho*>(first->parsed);
  EXPECT_EQ(first->size, macho->text_size);
  Found found;
  EXPECT_EQ(lookup(macho, 0x200000000 + macho->text_size - 1, &found), DZCRASH_OK);
  DZcrash_async_image_list_set_reading(&list, false);
  DZcrash_nasync_image_list_free(&list);
}
