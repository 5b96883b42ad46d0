#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncMObject.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"
#include "DZCrashReporter/unwind/DZCrashAsyncCompactUnwind.h"

using namespace dzcrash;

namespace {

const std::string kFixtures = std::string(QUORVELLE_SOURCE_DIR) + "/tests/fixtures/macho/";
constexpr uint64_t kSlide = 0x7000000;
constexpr uint32_t NO = DZCRASH_ASYNC_CFE_NO_REG;

// What llvm-objdump --unwind-info lists: every second-level entry in address order, and the
// first-level index with its sentinel.
struct OracleEntry {
  uint64_t offset;
  uint32_t encoding;
};
struct UnwindOracle {
  std::vector<uint64_t> firstLevel;  // the sentinel last
  std::vector<OracleEntry> entries;
};

UnwindOracle parseUnwindInfo(const std::string& path) {
  std::ifstream in(path);
  UnwindOracle out;
  std::string line;
  while (std::getline(in, line)) {
    const size_t function = line.find("function offset=0x");
    if (function == std::string::npos) continue;
    const uint64_t offset = std::stoull(line.substr(function + 18), nullptr, 16);
    if (line.find("2nd level page offset") != std::string::npos) {
      out.firstLevel.push_back(offset);
    } else if (const size_t enc = line.find("encoding"); enc != std::string::npos) {
      const size_t value = line.find("=0x", enc);
      out.entries.push_back({offset, static_cast<uint32_t>(std::stoul(line.substr(value + 3), nullptr, 16))});
    }
  }
  return out;
}

// A fixture image with its __unwind_info section mapped.
struct MappedSection {
  std::unique_ptr<DZCrashMachOFile> file;
  dzcrash_async_macho image{};
  dzcrash_async_mobject section{};
  bool imageReady = false;
  bool sectionReady = false;

  explicit MappedSection(const std::string& relative) {
    std::string error;
    file = DZCrashMachOFile::load(kFixtures + relative, kSlide, &error);
    if (file == nullptr) {
      ADD_FAILURE() << error;
      return;
    }
    imageReady = DZcrash_nasync_macho_init(&image, file->task(), relative.c_str(), file->headerAddress()) ==
                 DZCRASH_OK;
    sectionReady = imageReady &&
                   DZcrash_async_macho_map_section(&image, "__TEXT", "__unwind_info", &section) == DZCRASH_OK;
  }
  ~MappedSection() {
    if (sectionReady) DZcrash_async_mobject_free(&section);
    if (imageReady) DZcrash_nasync_macho_free(&image);
  }
};

// An __unwind_info section made by hand, and a memory object over it.
class SyntheticSection {
 public:
  void u32(uint32_t v) { put(v, 4); }
  void u16(uint16_t v) { put(v, 2); }
  void u32At(size_t at, uint32_t v) { std::memcpy(bytes_.data() + at, &v, 4); }
  size_t size() const { return bytes_.size(); }
  std::vector<uint8_t>& bytes() { return bytes_; }

  // Maps the bytes; the object lives as long as this builder.
  const dzcrash_async_mobject* map() {
    if (mapped_) DZcrash_async_mobject_free(&mobj_);
    region_ = {0x5000, bytes_.data(), bytes_.size(), true};
    DZcrash_task_init_buffer(&task_, &region_, 1);
    mapped_ = DZcrash_async_mobject_init(&mobj_, &task_, 0x5000, bytes_.size(), true) == DZCRASH_OK;
    EXPECT_TRUE(mapped_);
    return &mobj_;
  }
  ~SyntheticSection() {
    if (mapped_) DZcrash_async_mobject_free(&mobj_);
  }

 private:
  void put(uint32_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> bytes_;
  dzcrash_task_region region_{};
  dzcrash_task task_{};
  dzcrash_async_mobject mobj_{};
  bool mapped_ = false;
};

// A section with 2 common encodings, one compressed page at 0x1000 (entries at +0, +0x10 and +0x20; the
// last uses the page's own encoding table) and one regular page at 0x2000 (entries at 0x2000, 0x2040),
// and a sentinel at 0x3000.
SyntheticSection twoPageSection() {
  SyntheticSection s;
  s.u32(1);                                            // version
  s.u32(28), s.u32(2);                                 // common encodings at 28, 2 of them
  s.u32(36), s.u32(0);                                 // no personalities
  s.u32(36), s.u32(3);                                 // index at 36, 3 entries (the last a sentinel)
  s.u32(0x02010000), s.u32(0x02020000);                // common encodings
  s.u32(0x1000), s.u32(72), s.u32(0);                  // index: compressed page at 72
  s.u32(0x2000), s.u32(104), s.u32(0);                 //        regular page at 104
  s.u32(0x3000), s.u32(0), s.u32(0);                   //        sentinel
  s.u32(3), s.u16(12), s.u16(3), s.u16(24), s.u16(2);  // compressed page header (at 72)
  s.u32(0x00000000);                                   // +0: common 0
  s.u32(0x01000010);                                   // +0x10: common 1
  s.u32(0x03000020);                                   // +0x20: index 3 = page encoding 1
  s.u32(0x02030000), s.u32(0x02040000);                // page encodings
  s.u32(2), s.u16(8), s.u16(2);                        // regular page header (at 104)
  s.u32(0x2000), s.u32(0x01010001);
  s.u32(0x2040), s.u32(0x04000123);
  return s;
}

struct Found {
  dzcrash_error_t err;
  uint64_t start;
  uint32_t encoding;
};

Found findPc(const dzcrash_async_cfe_reader* reader, uint64_t pc) {
  Found f{DZCRASH_UNKNOWN, 0, 0};
  f.err = DZcrash_async_cfe_reader_find_pc(reader, pc, &f.start, &f.encoding);
  return f;
}

}  // namespace

class CompactUnwindFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(CompactUnwindFixture, FindsEveryFunctionTheOracleLists) {
  const std::string relative = GetParam();
  MappedSection mapped(relative);
  ASSERT_TRUE(mapped.sectionReady);
  const UnwindOracle oracle = parseUnwindInfo(kFixtures + relative + ".unwind-info.txt");
  ASSERT_GE(oracle.firstLevel.size(), 2u);
  ASSERT_FALSE(oracle.entries.empty());

  dzcrash_async_cfe_reader reader;
  ASSERT_EQ(
      DZcrash_async_cfe_reader_init(&reader, &mapped.section, DZcrash_async_macho_cpu_type(&mapped.image)),
      DZCRASH_OK);
  const uint64_t sentinel = oracle.firstLevel.back();
  for (size_t i = 0; i < oracle.entries.size(); ++i) {
    const OracleEntry& e = oracle.entries[i];
    dzcrash_async_cfe_entry entry;
    EXPECT_EQ(DZcrash_async_cfe_entry_init(&entry, reader.cpu_type, e.encoding), DZCRASH_OK)
        << "every encoding the linker wrote decodes: " << std::hex << e.encoding;
    const uint64_t end = i + 1 < oracle.entries.size() ? oracle.entries[i + 1].offset : sentinel;
    for (const uint64_t pc : {e.offset, std::min(e.offset + 1, end - 1), end - 1}) {
      const Found f = findPc(&reader, pc);
      ASSERT_EQ(f.err, DZCRASH_OK) << std::hex << pc;
      EXPECT_EQ(f.start, e.offset) << std::hex << pc;
      EXPECT_EQ(f.encoding, e.encoding) << std::hex << pc;
    }
  }
  EXPECT_EQ(findPc(&reader, oracle.entries.front().offset - 1).err, DZCRASH_NOT_FOUND);
  // Past the sentinel the last real index entry's page still answers.
  const Found beyond = findPc(&reader, sentinel + 0x100000);
  ASSERT_EQ(beyond.err, DZCRASH_OK);
  EXPECT_EQ(beyond.start, oracle.entries.back().offset);
  EXPECT_EQ(beyond.encoding, oracle.entries.back().encoding);
  DZcrash_async_cfe_reader_free(&reader);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CompactUnwindFixture,
                         ::testing::Values("x86_64/libfx.dylib", "x86_64/fx_exe", "x86_64/libfx_walk.dylib",
                                           "arm64/libfx.dylib", "arm64/fx_exe", "arm64/libfx_walk.dylib",
                                           "arm64/libfx_many.dylib"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
                           return name;
                         });

TEST(CompactUnwind, LargeLibraryHasRegularAndCompressedPagesAndManyCommonEncodings) {
  // The parameterised lookup above covers both kinds of page only if the fixture still has them.
  MappedSection mapped("arm64/libfx_many.dylib");
  ASSERT_TRUE(mapped.sectionReady);
  dzcrash_async_cfe_reader reader;
  ASSERT_EQ(DZcrash_async_cfe_reader_init(&reader, &mapped.section, DZCRASH_CPU_TYPE_ARM64), DZCRASH_OK);
  EXPECT_EQ(reader.header.common_encodings_count, 127u);
  std::map<uint32_t, int> kinds;
  for (uint32_t i = 0; i + 1 < reader.header.index_count; ++i) {
    uint32_t page = 0;
    uint32_t kind = 0;
    const uint64_t base = DZcrash_async_mobject_base_address(&mapped.section);
    ASSERT_EQ(DZcrash_async_mobject_read_uint32(&mapped.section, reader.byteorder, base,
                                                reader.header.index_offset + 12 * i + 4, &page),
              DZCRASH_OK);
    ASSERT_EQ(DZcrash_async_mobject_read_uint32(&mapped.section, reader.byteorder, base, page, &kind),
              DZCRASH_OK);
    ++kinds[kind];
  }
  EXPECT_EQ(kinds[2], 1);
  EXPECT_EQ(kinds[3], 1);
}

TEST(CompactUnwind, ReaderRefusesOtherProcessorsAndVersions) {
  // The armv7 image has no section of its own (that processor unwinds otherwise): a valid one stands in.
  SyntheticSection s = twoPageSection();
  struct Case {
    const char* relative;
    uint32_t cpu;
  };
  for (const Case& c : {Case{"arm64_32/libfx.dylib", DZCRASH_CPU_TYPE_ARM64_32},
                        Case{"armv7/libfx.dylib", DZCRASH_CPU_TYPE_ARM}}) {
    MappedSection mapped(c.relative);
    ASSERT_TRUE(mapped.imageReady) << c.relative;
    ASSERT_EQ(DZcrash_async_macho_cpu_type(&mapped.image), c.cpu);
    dzcrash_async_cfe_reader reader;
    EXPECT_EQ(DZcrash_async_cfe_reader_init(&reader, mapped.sectionReady ? &mapped.section : s.map(), c.cpu),
              DZCRASH_NOT_SUPPORTED)
        << c.relative;
  }
  dzcrash_async_cfe_reader reader;
  EXPECT_EQ(DZcrash_async_cfe_reader_init(&reader, s.map(), DZCRASH_CPU_TYPE_X86_64), DZCRASH_OK);
  s.u32At(0, 2);
  EXPECT_EQ(DZcrash_async_cfe_reader_init(&reader, s.map(), DZCRASH_CPU_TYPE_X86_64), DZCRASH_NOT_SUPPORTED);
  SyntheticSection shortHeader;
  for (int i = 0; i < 6; ++i) shortHeader.u32(1);
  EXPECT_EQ(DZcrash_async_cfe_reader_init(&reader, shortHeader.map(), DZCRASH_CPU_TYPE_X86_64),
            DZCRASH_INVALID_ARGUMENT);
}

TEST(CompactUnwind, LooksUpBothPageKindsAndPageEncodings) {
  SyntheticSection s = twoPageSection();
  dzcrash_async_cfe_reader reader;
  ASSERT_EQ(DZcrash_async_cfe_reader_init(&reader, s.map(), DZCRASH_CPU_TYPE_X86_64), DZCRASH_OK);
  struct Case {
    uint64_t pc;
    dzcrash_error_t err;
    uint64_t start;
    uint32_t encoding;
  };
  const Case cases[] = {
      {0xFFF, DZCRASH_NOT_FOUND, 0, 0},
      {0x1000, DZCRASH_OK, 0x1000, 0x02010000},
      {0x100F, DZCRASH_OK, 0x1000, 0x02010000},
      {0x1010, DZCRASH_OK, 0x1010, 0x02020000},
      // Encoding index 3 = the common count (2) + 1: the page's second encoding.
      {0x1020, DZCRASH_OK, 0x1020, 0x02040000},
      {0x1FFF, DZCRASH_OK, 0x1020, 0x02040000},
      {0x2000, DZCRASH_OK, 0x2000, 0x01010001},
      {0x2040, DZCRASH_OK, 0x2040, 0x04000123},
      {0x3000, DZCRASH_OK, 0x2040, 0x04000123},
      {UINT64_MAX, DZCRASH_OK, 0x2040, 0x04000123},
  };
  for (const Case& c : cases) {
    const Found f = findPc(&reader, c.pc);
    EXPECT_EQ(f.err, c.err) << std::hex << c.pc;
    if (c.err != DZCRASH_OK) continue;
    EXPECT_EQ(f.start, c.start) << std::hex << c.pc;
    EXPECT_EQ(f.encoding, c.encoding) << std::hex << c.pc;
  }

  // An index equal to the common count picks the page's first encoding.
  s.u32At(72 + 12 + 4, 0x02000010);
  ASSERT_EQ(DZcrash_async_cfe_reader_init(&reader, s.map(), DZCRASH_CPU_TYPE_X86_64), DZCRASH_OK);
  EXPECT_EQ(findPc(&reader, 0x1010).encoding, 0x02030000u);
}

TEST(CompactUnwind, DamagedTablesAreRefusedWithoutReadingOutsideTheSection) {
  struct Case {
    const char* name;
    size_t at;
    uint32_t value;
    uint64_t pc;
    dzcrash_error_t err;
  };
  const Case cases[] = {
      {"common encodings past the end", 8, 0x10000, 0x1000, DZCRASH_INVALID_ARGUMENT},
      {"index past the end", 20, 0xFFFFFF00, 0x1000, DZCRASH_INVALID_ARGUMENT},
      {"index count too large", 24, 0x1000000, 0x1000, DZCRASH_INVALID_ARGUMENT},
      {"no index", 24, 0, 0x1000, DZCRASH_NOT_FOUND},
      {"only a sentinel", 24, 1, 0x1000, DZCRASH_NOT_FOUND},
      {"page offset past the end", 36 + 4, 0x10000, 0x1000, DZCRASH_INVALID_ARGUMENT},
      {"unknown page kind", 72, 7, 0x1000, DZCRASH_INVALID_ARGUMENT},
      {"compressed entries past the end", 72 + 4, 0xFFFF000C, 0x1000, DZCRASH_INVALID_ARGUMENT},
      {"empty compressed page", 72 + 4, 0x0000000C, 0x1000, DZCRASH_NOT_FOUND},
      {"page encodings past the end", 72 + 8, 0x0002FF00, 0x1020, DZCRASH_INVALID_ARGUMENT},
      {"page encoding index beyond the page's count", 72 + 8, 0x00010018, 0x1020, DZCRASH_INVALID_ARGUMENT},
      {"regular entries past the end", 104 + 4, 0x00400008, 0x2000, DZCRASH_INVALID_ARGUMENT},
      {"empty regular page", 104 + 4, 0x00000008, 0x2000, DZCRASH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SyntheticSection s = twoPageSection();
    s.u32At(c.at, c.value);
    dzcrash_async_cfe_reader reader;
    ASSERT_EQ(DZcrash_async_cfe_reader_init(&reader, s.map(), DZCRASH_CPU_TYPE_X86_64), DZCRASH_OK) << c.name;
    EXPECT_EQ(findPc(&reader, c.pc).err, c.err) << c.name;
  }
}

TEST(CompactUnwind, PermutationRoundTripIsExhaustive) {
  // Every ordered choice of `count` distinct codes from 1-6 encodes to a value that decodes back.
  for (uint32_t count = 0; count <= 6; ++count) {
    std::vector<uint32_t> codes = {1, 2, 3, 4, 5, 6};
    std::vector<std::vector<uint32_t>> seen;
    do {
      std::vector<uint32_t> choice(codes.begin(), codes.begin() + count);
      if (std::find(seen.begin(), seen.end(), choice) != seen.end()) continue;
      seen.push_back(choice);
      const uint32_t p = DZcrash_async_cfe_register_encode(choice.data(), count);
      EXPECT_LT(p, 1024u);
      uint32_t decoded[6] = {};
      ASSERT_EQ(DZcrash_async_cfe_register_decode(p, count, decoded), DZCRASH_OK);
      EXPECT_EQ(std::vector<uint32_t>(decoded, decoded + count), choice) << "count " << count << " p " << p;
    } while (std::next_permutation(codes.begin(), codes.end()));
    const size_t expected[] = {1, 6, 30, 120, 360, 720, 720};
    EXPECT_EQ(seen.size(), expected[count]);
  }
  const uint32_t all[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(DZcrash_async_cfe_register_encode(all, 6), 0u);
  EXPECT_EQ(DZcrash_async_cfe_register_encode(all, 7), 0u);
  uint32_t decoded[6];
  ASSERT_EQ(DZcrash_async_cfe_register_decode(0, 6, decoded), DZCRASH_OK);
  EXPECT_EQ(std::vector<uint32_t>(decoded, decoded + 6), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
  // A digit beyond the unused codes names none.
  ASSERT_EQ(DZcrash_async_cfe_register_decode(30, 2, decoded), DZCRASH_OK);
  EXPECT_EQ(decoded[0], 0u);
  EXPECT_EQ(decoded[1], 1u);
  EXPECT_EQ(DZcrash_async_cfe_register_decode(0, 7, decoded), DZCRASH_INVALID_ARGUMENT);
}

TEST(CompactUnwind, DecodesEveryMode) {
  constexpr uint32_t X64 = DZCRASH_CPU_TYPE_X86_64, X86 = DZCRASH_CPU_TYPE_X86, A64 = DZCRASH_CPU_TYPE_ARM64;
  constexpr uint32_t RBX = DZCRASH_X86_64_RBX, R12 = DZCRASH_X86_64_R12, R13 = DZCRASH_X86_64_R13,
                     R14 = DZCRASH_X86_64_R14, R15 = DZCRASH_X86_64_R15, RBP = DZCRASH_X86_64_RBP;
  struct Case {
    const char* name;
    uint32_t cpu;
    uint32_t encoding;
    dzcrash_error_t err = DZCRASH_OK;
    dzcrash_async_cfe_type type = DZCRASH_ASYNC_CFE_TYPE_NONE;
    int64_t offset = 0;
    uint32_t adjust = 0;
    uint32_t ra = NO;
    std::vector<uint32_t> regs = {};
  };
  const Case cases[] = {
      // The fixtures' encodings.
      {.name = "x86_64 frame rbx",
       .cpu = X64,
       .encoding = 0x01010001,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -8,
       .regs = {RBX}},
      {.name = "x86_64 frame with personality bits",
       .cpu = X64,
       .encoding = 0x51010001,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -8,
       .regs = {RBX}},
      {.name = "x86_64 frame, five registers",
       .cpu = X64,
       .encoding = 0x010558d1,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -40,
       .regs = {RBX, R12, R13, R14, R15}},
      {.name = "x86_64 frame rbx r14",
       .cpu = X64,
       .encoding = 0x01020021,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -16,
       .regs = {RBX, R14}},
      {.name = "x86_64 immediate",
       .cpu = X64,
       .encoding = 0x02060000,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
       .offset = 48},
      {.name = "x86_64 immediate rbx r14",
       .cpu = X64,
       .encoding = 0x02040802,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
       .offset = 32,
       .regs = {RBX, R14}},
      {.name = "x86_64 indirect",
       .cpu = X64,
       .encoding = 0x03032000,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT,
       .offset = 3,
       .adjust = 8},
      {.name = "x86_64 indirect rbx",
       .cpu = X64,
       .encoding = 0x03044400,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT,
       .offset = 4,
       .adjust = 16,
       .regs = {RBX}},
      {.name = "x86_64 dwarf",
       .cpu = X64,
       .encoding = 0x040000c0,
       .type = DZCRASH_ASYNC_CFE_TYPE_DWARF,
       .offset = 0xc0},
      {.name = "x86_64 none", .cpu = X64, .encoding = 0x00000000, .type = DZCRASH_ASYNC_CFE_TYPE_NONE},
      // Frame slots none, r12, rbx: three slots, the first of no interest.
      {.name = "x86_64 frame with an empty slot",
       .cpu = X64,
       .encoding = 0x01030050,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -24,
       .regs = {NO, R12, RBX}},
      {.name = "x86_64 frame rbp code",
       .cpu = X64,
       .encoding = 0x01010006,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -8,
       .regs = {RBP}},
      {.name = "x86_64 frame code 7", .cpu = X64, .encoding = 0x01010039, .err = DZCRASH_INVALID_ARGUMENT},
      {.name = "x86_64 frameless count 7",
       .cpu = X64,
       .encoding = 0x02011C00,
       .err = DZCRASH_INVALID_ARGUMENT},
      // Count 2, permutation 30: the first digit names no unused code.
      {.name = "x86_64 frameless empty slot",
       .cpu = X64,
       .encoding = 0x0202081E,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
       .offset = 16,
       .regs = {NO, RBX}},
      {.name = "x86_64 frameless six registers",
       .cpu = X64,
       .encoding = 0x02071800,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
       .offset = 56,
       .regs = {RBX, R12, R13, R14, R15, RBP}},
      // x86: four-byte registers and its own code table.
      {.name = "x86 frame",
       .cpu = X86,
       .encoding = 0x01030000 | 1 | (2 << 3) | (6 << 6),
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -12,
       .regs = {DZCRASH_X86_EBX, DZCRASH_X86_ECX, DZCRASH_X86_EBP}},
      {.name = "x86 immediate",
       .cpu = X86,
       .encoding = 0x02050C00 | 4,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
       .offset = 20,
       .regs = {DZCRASH_X86_EBX, DZCRASH_X86_EDX, DZCRASH_X86_ECX}},
      {.name = "x86 indirect",
       .cpu = X86,
       .encoding = 0x03066000 | (1 << 10) | 4,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT,
       .offset = 6,
       .adjust = 12,
       .regs = {DZCRASH_X86_ESI}},
      {.name = "x86 dwarf",
       .cpu = X86,
       .encoding = 0x04123456,
       .type = DZCRASH_ASYNC_CFE_TYPE_DWARF,
       .offset = 0x123456},
      // arm64.
      {.name = "arm64 frame one pair",
       .cpu = A64,
       .encoding = 0x04000001,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -16,
       .regs = {23, 22}},
      {.name = "arm64 frame all pairs",
       .cpu = A64,
       .encoding = 0x0400001f,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -80,
       .regs = {31, 30, 29, 28, 27, 26, 25, 24, 23, 22}},
      {.name = "arm64 frame with personality bits",
       .cpu = A64,
       .encoding = 0x54000001,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAME,
       .offset = -16,
       .regs = {23, 22}},
      {.name = "arm64 frameless leaf",
       .cpu = A64,
       .encoding = 0x02000000,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
       .ra = 32},
      {.name = "arm64 frameless",
       .cpu = A64,
       .encoding = 0x02003004,
       .type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
       .offset = 48,
       .ra = 32,
       .regs = {27, 26}},
      {.name = "arm64 dwarf",
       .cpu = A64,
       .encoding = 0x03000014,
       .type = DZCRASH_ASYNC_CFE_TYPE_DWARF,
       .offset = 0x14},
      {.name = "arm64 none", .cpu = A64, .encoding = 0, .type = DZCRASH_ASYNC_CFE_TYPE_NONE},
      {.name = "arm64 mode 1", .cpu = A64, .encoding = 0x01000000, .err = DZCRASH_NOT_SUPPORTED},
      {.name = "armv7", .cpu = DZCRASH_CPU_TYPE_ARM, .encoding = 0x01000000, .err = DZCRASH_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    dzcrash_async_cfe_entry entry;
    ASSERT_EQ(DZcrash_async_cfe_entry_init(&entry, c.cpu, c.encoding), c.err) << c.name;
    if (c.err != DZCRASH_OK) continue;
    EXPECT_EQ(DZcrash_async_cfe_entry_type(&entry), c.type) << c.name;
    EXPECT_EQ(DZcrash_async_cfe_entry_stack_offset(&entry), c.offset) << c.name;
    EXPECT_EQ(DZcrash_async_cfe_entry_stack_adjustment(&entry), c.adjust) << c.name;
    EXPECT_EQ(DZcrash_async_cfe_entry_return_address_register(&entry), c.ra) << c.name;
    ASSERT_EQ(DZcrash_async_cfe_entry_register_count(&entry), c.regs.size()) << c.name;
    std::vector<uint32_t> regs(c.regs.size());
    DZcrash_async_cfe_entry_register_list(&entry, regs.data());
    EXPECT_EQ(regs, c.regs) << c.name;
    DZcrash_async_cfe_entry_free(&entry);
  }
  // Modes 5-15 mean nothing on any processor.
  for (uint32_t mode = 5; mode <= 15; ++mode) {
    for (const uint32_t cpu : {X64, X86, A64}) {
      dzcrash_async_cfe_entry entry;
      EXPECT_EQ(DZcrash_async_cfe_entry_init(&entry, cpu, mode << 24), DZCRASH_NOT_SUPPORTED) << mode;
    }
  }
}

namespace {

// A stack and a little code as a buffer task: words written at chosen addresses.
class SyntheticMemory {
 public:
  struct Range {
    uint64_t address;
    size_t size;
  };
  SyntheticMemory(std::initializer_list<Range> ranges) {
    for (const Range& r : ranges)
      bytes_.emplace_back(r.size, 0xEE), regions_.push_back({r.address, nullptr, r.size, true});
    for (size_t i = 0; i < regions_.size(); ++i) regions_[i].bytes = bytes_[i].data();
    DZcrash_task_init_buffer(&task_, regions_.data(), regions_.size());
  }
  template <typename T>
  void put(uint64_t address, T value) {
    for (size_t i = 0; i < regions_.size(); ++i) {
      if (address >= regions_[i].address && address - regions_[i].address + sizeof(T) <= regions_[i].length) {
        std::memcpy(bytes_[i].data() + (address - regions_[i].address), &value, sizeof(value));
        return;
      }
    }
    ADD_FAILURE() << "no region holds " << std::hex << address;
  }
  dzcrash_task_t task() const { return &task_; }

 private:
  std::vector<std::vector<uint8_t>> bytes_;
  std::vector<dzcrash_task_region> regions_;
  dzcrash_task task_{};
};

struct ApplyResult {
  dzcrash_error_t err;
  dzcrash_async_thread_state next;
};

ApplyResult apply(const SyntheticMemory& memory, uint64_t function, const dzcrash_async_thread_state& current,
                  uint32_t encoding) {
  dzcrash_async_cfe_entry entry;
  const uint32_t cpu = current.greg_size == 4 ? DZCRASH_CPU_TYPE_X86 : DZCRASH_CPU_TYPE_X86_64;
  EXPECT_EQ(DZcrash_async_cfe_entry_init(&entry, cpu, encoding), DZCRASH_OK);
  ApplyResult r{DZCRASH_UNKNOWN, {}};
  r.err = DZcrash_async_cfe_entry_apply(memory.task(), function, &current, &entry, &r.next);
  return r;
}

dzcrash_async_thread_state fullState(uint32_t cpu) {
  dzcrash_async_thread_state s;
  DZcrash_async_thread_state_init(&s, cpu);
  const uint32_t count = static_cast<uint32_t>(DZcrash_async_thread_state_get_reg_count(&s));
  for (uint32_t r = 0; r < count; ++r) DZcrash_async_thread_state_set_reg(&s, r, 0x0E00 + r);
  return s;
}

std::map<uint32_t, uint64_t> validValues(const dzcrash_async_thread_state& s) {
  std::map<uint32_t, uint64_t> out;
  const uint32_t count = static_cast<uint32_t>(DZcrash_async_thread_state_get_reg_count(&s));
  for (uint32_t r = 0; r < count; ++r) {
    if (DZcrash_async_thread_state_has_reg(&s, r)) out[r] = DZcrash_async_thread_state_get_reg(&s, r);
  }
  return out;
}

constexpr uint64_t kStack = 0x70000;
constexpr uint64_t kCode = 0x4000;

}  // namespace

TEST(CompactUnwindApply, X86_64FramelessImmediateRestoresPushedRegisters) {
  SyntheticMemory m({{kStack, 0x100}});
  dzcrash_async_thread_state cur = fullState(DZCRASH_CPU_TYPE_X86_64);
  const uint64_t sp = kStack + 0x40;
  DZcrash_async_thread_state_set_reg(&cur, DZCRASH_X86_64_RSP, sp);
  // Size 32 with rbx and r14 pushed: [sp+8] rbx, [sp+16] r14, [sp+24] the return address.
  m.put<uint64_t>(sp + 8, 0xB0B0);
  m.put<uint64_t>(sp + 16, 0x1414);
  m.put<uint64_t>(sp + 24, 0xCA11E4);
  const ApplyResult r = apply(m, kCode, cur, 0x02040802);
  ASSERT_EQ(r.err, DZCRASH_OK);
  EXPECT_EQ(validValues(r.next), (std::map<uint32_t, uint64_t>{{DZCRASH_X86_64_RIP, 0xCA11E4},
                                                               {DZCRASH_X86_64_RBP, 0x0E01},
                                                               {DZCRASH_X86_64_RSP, sp + 32},
                                                               {DZCRASH_X86_64_RBX, 0xB0B0},
                                                               {DZCRASH_X86_64_R12, 0x0E0D},
                                                               {DZCRASH_X86_64_R13, 0x0E0E},
                                                               {DZCRASH_X86_64_R14, 0x1414},
                                                               {DZCRASH_X86_64_R15, 0x0E10}}));

  // Size 0x18 and nothing saved: the return address is the word at sp + 0x10.
  m.put<uint64_t>(sp + 0x10, 0xFEED);
  const ApplyResult plain = apply(m, kCode, cur, 0x02030000);
  ASSERT_EQ(plain.err, DZCRASH_OK);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&plain.next, DZCRASH_X86_64_RSP), sp + 0x18);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&plain.next, DZCRASH_X86_64_RIP), 0xFEEDu);
}

TEST(CompactUnwindApply, FramelessIndirectReadsItsStackSizeFromTheCode) {
  // The function's "sub $0x1000, %rsp" immediate sits 4 bytes into it; the encoding adds 16 for the
  // pushed rbx and the return address.
  SyntheticMemory m({{kCode, 0x20}, {kStack, 0x2000}});
  m.put<uint32_t>(kCode + 4, 0x1000);
  const uint64_t sp = kStack + 0x100;
  const uint64_t newSp = sp + 0x1010;
  m.put<uint64_t>(newSp - 8, 0xABCDEF);
  m.put<uint64_t>(newSp - 16, 0x5151);
  dzcrash_async_thread_state cur = fullState(DZCRASH_CPU_TYPE_X86_64);
  DZcrash_async_thread_state_set_reg(&cur, DZCRASH_X86_64_RSP, sp);
  const ApplyResult r = apply(m, kCode, cur, 0x03044400);
  ASSERT_EQ(r.err, DZCRASH_OK);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&r.next, DZCRASH_X86_64_RSP), newSp);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&r.next, DZCRASH_X86_64_RIP), 0xABCDEFu);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&r.next, DZCRASH_X86_64_RBX), 0x5151u);

  // Code that cannot be read fails with the read's error.
  EXPECT_EQ(apply(m, 0x9000, cur, 0x03044400).err, DZCRASH_NOT_FOUND);
}

TEST(CompactUnwindApply, X86_64FrameReadsSlotsBelowTheFramePointer) {
  SyntheticMemory m({{kStack, 0x100}});
  dzcrash_async_thread_state cur = fullState(DZCRASH_CPU_TYPE_X86_64);
  const uint64_t fp = kStack + 0x80;
  DZcrash_async_thread_state_set_reg(&cur, DZCRASH_X86_64_RBP, fp);
  m.put<uint64_t>(fp, kStack + 0xC0);
  m.put<uint64_t>(fp + 8, 0x7E7);
  // Slots none, r12, rbx below a 24-byte area: fp-24 skipped, r12 at fp-16, rbx at fp-8.
  m.put<uint64_t>(fp - 24, 0xBAD);
  m.put<uint64_t>(fp - 16, 0x1212);
  m.put<uint64_t>(fp - 8, 0xB0B0);
  const ApplyResult r = apply(m, kCode, cur, 0x01030050);
  ASSERT_EQ(r.err, DZCRASH_OK);
  EXPECT_EQ(validValues(r.next), (std::map<uint32_t, uint64_t>{{DZCRASH_X86_64_RIP, 0x7E7},
                                                               {DZCRASH_X86_64_RBP, kStack + 0xC0},
                                                               {DZCRASH_X86_64_RSP, fp + 16},
                                                               {DZCRASH_X86_64_RBX, 0xB0B0},
                                                               {DZCRASH_X86_64_R12, 0x1212},
                                                               {DZCRASH_X86_64_R13, 0x0E0E},
                                                               {DZCRASH_X86_64_R14, 0x0E0F},
                                                               {DZCRASH_X86_64_R15, 0x0E10}}));
}

TEST(CompactUnwindApply, X86UsesFourByteWords) {
  SyntheticMemory m({{kStack, 0x100}});
  dzcrash_async_thread_state cur = fullState(DZCRASH_CPU_TYPE_X86);
  const uint64_t sp = kStack + 0x20;
  DZcrash_async_thread_state_set_reg(&cur, DZCRASH_X86_ESP, sp);
  // Frameless, 20 bytes, ebx edx ecx pushed: ebx at sp+4, edx at sp+8, ecx at sp+12, return at sp+16.
  m.put<uint32_t>(sp + 4, 0xB0B0);
  m.put<uint32_t>(sp + 8, 0xD0D0);
  m.put<uint32_t>(sp + 12, 0xC0C0);
  m.put<uint32_t>(sp + 16, 0x8001);
  const ApplyResult frameless = apply(m, kCode, cur, 0x02050C04);
  ASSERT_EQ(frameless.err, DZCRASH_OK);
  EXPECT_EQ(validValues(frameless.next), (std::map<uint32_t, uint64_t>{{DZCRASH_X86_EIP, 0x8001},
                                                                       {DZCRASH_X86_EBP, 0x0E01},
                                                                       {DZCRASH_X86_ESP, sp + 20},
                                                                       {DZCRASH_X86_EDX, 0xD0D0},
                                                                       {DZCRASH_X86_ECX, 0xC0C0},
                                                                       {DZCRASH_X86_EBX, 0xB0B0},
                                                                       {DZCRASH_X86_ESI, 0x0E07},
                                                                       {DZCRASH_X86_EDI, 0x0E08}}));

  const uint64_t fp = kStack + 0x80;
  DZcrash_async_thread_state_set_reg(&cur, DZCRASH_X86_EBP, fp);
  m.put<uint32_t>(fp, kStack + 0xA0);
  m.put<uint32_t>(fp + 4, 0x8002);
  m.put<uint32_t>(fp - 8, 0x5151);  // esi (code 5)
  m.put<uint32_t>(fp - 4, 0xD1D1);  // edi (code 4)
  const ApplyResult frame = apply(m, kCode, cur, 0x01020000 | 5 | (4 << 3));
  ASSERT_EQ(frame.err, DZCRASH_OK);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&frame.next, DZCRASH_X86_EIP), 0x8002u);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&frame.next, DZCRASH_X86_EBP), kStack + 0xA0);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&frame.next, DZCRASH_X86_ESP), fp + 8);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&frame.next, DZCRASH_X86_ESI), 0x5151u);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&frame.next, DZCRASH_X86_EDI), 0xD1D1u);

  // Indirect: the 32-bit immediate at function + 6, plus 12; esi (code 5) pushed.
  SyntheticMemory withCode({{kCode, 0x10}, {kStack, 0x100}});
  withCode.put<uint32_t>(kCode + 6, 0x30);
  withCode.put<uint32_t>(sp + 0x3C - 4, 0x8003);
  withCode.put<uint32_t>(sp + 0x3C - 8, 0x5252);
  const ApplyResult indirect = apply(withCode, kCode, cur, 0x03066404);
  ASSERT_EQ(indirect.err, DZCRASH_OK);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&indirect.next, DZCRASH_X86_ESP), sp + 0x3C);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&indirect.next, DZCRASH_X86_EIP), 0x8003u);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&indirect.next, DZCRASH_X86_ESI), 0x5252u);
}

TEST(CompactUnwindApply, RefusesWhatCannotBeApplied) {
  SyntheticMemory m({{kStack, 0x100}});
  const dzcrash_async_thread_state full = fullState(DZCRASH_CPU_TYPE_X86_64);
  dzcrash_async_thread_state noSp = full;
  DZcrash_async_thread_state_clear_reg(&noSp, DZCRASH_REG_SP);
  dzcrash_async_thread_state noFp = full;
  DZcrash_async_thread_state_clear_reg(&noFp, DZCRASH_REG_FP);
  dzcrash_async_thread_state offStack = full;
  DZcrash_async_thread_state_set_reg(&offStack, DZCRASH_REG_SP, 0x100);
  DZcrash_async_thread_state_set_reg(&offStack, DZCRASH_REG_FP, 0x100);
  const dzcrash_async_thread_state x86 = fullState(DZCRASH_CPU_TYPE_X86);

  struct Case {
    const char* name;
    const dzcrash_async_thread_state* state;
    uint32_t cpu;
    uint32_t encoding;
    dzcrash_error_t err;
  };
  const Case cases[] = {
      {"dwarf", &full, DZCRASH_CPU_TYPE_X86_64, 0x04000040, DZCRASH_NOT_SUPPORTED},
      {"none", &full, DZCRASH_CPU_TYPE_X86_64, 0, DZCRASH_NOT_SUPPORTED},
      {"x86 dwarf", &x86, DZCRASH_CPU_TYPE_X86, 0x04000040, DZCRASH_NOT_SUPPORTED},
      {"x86 none", &x86, DZCRASH_CPU_TYPE_X86, 0, DZCRASH_NOT_SUPPORTED},
      {"frameless without a stack pointer", &noSp, DZCRASH_CPU_TYPE_X86_64, 0x02030000, DZCRASH_NOT_FOUND},
      {"frame without a frame pointer", &noFp, DZCRASH_CPU_TYPE_X86_64, 0x01010001, DZCRASH_NOT_FOUND},
      {"frameless off the stack", &offStack, DZCRASH_CPU_TYPE_X86_64, 0x02030000, DZCRASH_NOT_FOUND},
      {"frame off the stack", &offStack, DZCRASH_CPU_TYPE_X86_64, 0x01010001, DZCRASH_NOT_FOUND},
      {"arm64 entry", &full, DZCRASH_CPU_TYPE_ARM64, 0x04000001, DZCRASH_NOT_SUPPORTED},
      {"x86 entry on an x86-64 state", &full, DZCRASH_CPU_TYPE_X86, 0x02030000, DZCRASH_NOT_SUPPORTED},
      {"x86-64 entry on an x86 state", &x86, DZCRASH_CPU_TYPE_X86_64, 0x02030000, DZCRASH_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    dzcrash_async_cfe_entry entry;
    ASSERT_EQ(DZcrash_async_cfe_entry_init(&entry, c.cpu, c.encoding), DZCRASH_OK) << c.name;
    dzcrash_async_thread_state next;
    EXPECT_EQ(DZcrash_async_cfe_entry_apply(m.task(), kCode, c.state, &entry, &next), c.err) << c.name;
  }
}
