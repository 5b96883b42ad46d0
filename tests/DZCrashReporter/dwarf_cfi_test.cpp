#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCIE.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfEncoding.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFDE.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFrameReader.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"
#include "tests/DZCrashReporter/DwarfBytes.h"

using namespace dzcrash;
using namespace dzcrash::async;
using dzcrash::test::DwarfBytes;
using dzcrash::test::le;
using dzcrash::test::Memory;

namespace {

constexpr uint64_t kSection = 0x10000;

// A task holding `bytes` at kSection, and a section over all of them.
struct Placed {
  explicit Placed(const std::vector<uint8_t>& bytes) {
    memory.place(kSection, bytes);
    EXPECT_EQ(section.init(memory.task(), kSection, bytes.size()), DZCRASH_OK);
  }
  Memory memory;
  dwarf_section section;
};

// A CIE with the given augmentation, version 1, code alignment 1, data alignment -8, return address 16
// and the x86-64 initial rules (CFA = rsp + 8, rip at CFA - 8).
void cie(DwarfBytes* b, const std::string& augmentation, std::initializer_list<uint8_t> data,
         bool m64 = false, bool debugFrame = false) {
  b->open(m64);
  if (m64) {
    b->u64(debugFrame ? UINT64_MAX : 0);
  } else {
    b->u32(debugFrame ? UINT32_MAX : 0);
  }
  b->u8(1).str(augmentation).uleb(1).sleb(-8).uleb(16);
  if (!augmentation.empty()) b->uleb(data.size()).bytes(data);
  b->bytes({0x0C, 0x07, 0x08, 0x90, 0x01}).close();
}

}  // namespace

TEST(DwarfLeb128, ValuesLimitsAndTruncation) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool isSigned;
    dzcrash_error_t result;
    uint64_t value;
    uint64_t size;
  };
  const std::vector<uint8_t> maxU = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
  const std::vector<uint8_t> minS = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7F};
  const std::vector<uint8_t> eleven = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01};
  const Case cases[] = {
      {"uleb one byte", {0x02}, false, DZCRASH_OK, 2, 1},
      {"uleb three bytes", {0xE5, 0x8E, 0x26}, false, DZCRASH_OK, 624485, 3},
      {"uleb 64 bits in ten bytes", maxU, false, DZCRASH_OK, UINT64_MAX, 10},
      {"uleb still continued after ten bytes", eleven, false, DZCRASH_NOT_SUPPORTED, 0, 0},
      {"uleb cut by the section's end", {0x80, 0x80}, false, DZCRASH_INVALID_ARGUMENT, 0, 0},
      {"sleb -1", {0x7F}, true, DZCRASH_OK, UINT64_MAX, 1},
      {"sleb -64 from bit 6", {0x40}, true, DZCRASH_OK, static_cast<uint64_t>(-64), 1},
      {"sleb 63 stays positive", {0x3F}, true, DZCRASH_OK, 63, 1},
      {"sleb -123456", {0xC0, 0xBB, 0x78}, true, DZCRASH_OK, static_cast<uint64_t>(-123456), 3},
      {"sleb INT64_MIN in ten bytes", minS, true, DZCRASH_OK, static_cast<uint64_t>(INT64_MIN), 10},
      {"sleb cut by the section's end", {0xFF}, true, DZCRASH_INVALID_ARGUMENT, 0, 0},
  };
  for (const Case& c : cases) {
    Placed p(c.bytes);
    uint64_t value = 0, size = 0;
    dzcrash_error_t err;
    if (c.isSigned) {
      int64_t s = 0;
      err = dzcrash_async_dwarf_read_sleb128(&p.section, kSection, 0, &s, &size);
      value = static_cast<uint64_t>(s);
    } else {
      err = dzcrash_async_dwarf_read_uleb128(&p.section, kSection, 0, &value, &size);
    }
    EXPECT_EQ(err, c.result) << c.name;
    if (c.result == DZCRASH_OK) {
      EXPECT_EQ(value, c.value) << c.name;
      EXPECT_EQ(size, c.size) << c.name;
    }
  }

  // Straight from the task, the value may lie anywhere; it ends where the task's memory does.
  Memory memory;
  memory.place(0x5000, {0x01, 0xE5, 0x8E, 0x26}).place(0x6000, {0x80});
  uint64_t value = 0, size = 0;
  ASSERT_EQ(dzcrash_async_dwarf_read_task_uleb128(memory.task(), 0x5000, 1, &value, &size), DZCRASH_OK);
  EXPECT_EQ(value, 624485u);
  int64_t s = 0;
  EXPECT_EQ(dzcrash_async_dwarf_read_task_sleb128(memory.task(), 0x6000, 0, &s, &size),
            DZCRASH_INVALID_ARGUMENT);
}

TEST(DwarfPointerEncoding, FormatsApplicationsAndBases) {
  constexpr uint64_t kSlot = 0x20000;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint8_t encoding;
    // Bases to set before reading.
    bool dataBase;
    bool frameBase;
    dzcrash_error_t result;
    uint64_t value;
    uint64_t size;
  };
  const uint64_t at = kSection + 4;  // every value is read four bytes into the section
  const Case cases[] = {
      {"absptr", {1, 2, 3, 4, 5, 6, 7, 8}, 0x00, false, false, DZCRASH_OK, 0x0807060504030201, 8},
      {"udata2", {0xFE, 0xFF}, 0x02, false, false, DZCRASH_OK, 0xFFFE, 2},
      {"udata4", {0xFE, 0xFF, 0xFF, 0xFF}, 0x03, false, false, DZCRASH_OK, 0xFFFFFFFE, 4},
      {"udata8", {1, 0, 0, 0, 0, 0, 0, 0x80}, 0x04, false, false, DZCRASH_OK, 0x8000000000000001, 8},
      {"sdata2", {0xFE, 0xFF}, 0x0A, false, false, DZCRASH_OK, static_cast<uint64_t>(-2), 2},
      {"sdata4", {0xFE, 0xFF, 0xFF, 0xFF}, 0x0B, false, false, DZCRASH_OK, static_cast<uint64_t>(-2), 4},
      {"sdata8",
       {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       0x0C,
       false,
       false,
       DZCRASH_OK,
       static_cast<uint64_t>(-2),
       8},
      {"uleb128", {0xE5, 0x8E, 0x26}, 0x01, false, false, DZCRASH_OK, 624485, 3},
      {"sleb128", {0x7F}, 0x09, false, false, DZCRASH_OK, static_cast<uint64_t>(-1), 1},
      {"pcrel sdata4 counts from the field",
       {0xF0, 0xFF, 0xFF, 0xFF},
       0x1B,
       false,
       false,
       DZCRASH_OK,
       at - 16,
       4},
      {"datarel without a base", {0x10, 0, 0, 0}, 0x30, false, false, DZCRASH_NOT_SUPPORTED, 0, 0},
      {"datarel udata4 from the data base", {0x10, 0, 0, 0}, 0x33, true, false, DZCRASH_OK, 0x40010, 4},
      {"textrel without a base", {0x10, 0, 0, 0}, 0x23, false, false, DZCRASH_NOT_SUPPORTED, 0, 0},
      {"funcrel without a base", {0x10, 0, 0, 0}, 0x43, false, false, DZCRASH_NOT_SUPPORTED, 0, 0},
      {"aligned without the frame base",
       {0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0},
       0x50,
       false,
       false,
       DZCRASH_NOT_SUPPORTED,
       0,
       0},
      // The field lies 4 bytes past an 8-byte boundary: 4 bytes of padding, then the word.
      {"aligned skips to the next word",
       {0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0},
       0x50,
       false,
       true,
       DZCRASH_OK,
       9,
       12},
      {"indirect reads the word it points at",
       {static_cast<uint8_t>(kSlot), static_cast<uint8_t>(kSlot >> 8), static_cast<uint8_t>(kSlot >> 16), 0,
        0, 0, 0, 0},
       0x80,
       false,
       false,
       DZCRASH_OK,
       0x1122334455667788,
       8},
      {"omit", {0}, 0xFF, false, false, DZCRASH_NOT_FOUND, 0, 0},
      {"unknown format", {0}, 0x05, false, false, DZCRASH_NOT_SUPPORTED, 0, 0},
      {"unknown application", {0}, 0x60, false, false, DZCRASH_NOT_SUPPORTED, 0, 0},
      {"value cut by the section's end", {1, 2}, 0x03, false, false, DZCRASH_INVALID_ARGUMENT, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = {0xAA, 0xAA, 0xAA, 0xAA};
    bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
    Memory memory;
    memory.place(kSection, bytes).place(kSlot, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
    dwarf_section section;
    ASSERT_EQ(section.init(memory.task(), kSection, bytes.size()), DZCRASH_OK);
    gnu_ehptr_reader<uint64_t> reader(le());
    if (c.dataBase) reader.set_data_base(0x40000);
    if (c.frameBase) reader.set_frame_section_base(kSection, 0x7000);
    uint64_t value = 0, size = 0;
    EXPECT_EQ(reader.read(&section, kSection, 4, c.encoding, &value, &size), c.result) << c.name;
    if (c.result == DZCRASH_OK) {
      EXPECT_EQ(value, c.value) << c.name;
      EXPECT_EQ(size, c.size) << c.name;
    }
  }

  // The 32-bit instance: an absolute word is 4 bytes, and sums wrap at 32 bits.
  Placed p({0, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF});
  gnu_ehptr_reader<uint32_t> reader32(le());
  uint32_t value = 0;
  uint64_t size = 0;
  ASSERT_EQ(reader32.read(&p.section, kSection, 4, DW_EH_PE_absptr, &value, &size), DZCRASH_OK);
  EXPECT_EQ(value, 0xFFFFFFF0u);
  EXPECT_EQ(size, 4u);
  ASSERT_EQ(reader32.read(&p.section, kSection, 4, 0x1B, &value, &size), DZCRASH_OK);
  EXPECT_EQ(value, static_cast<uint32_t>(kSection + 4 - 16));
}

TEST(DwarfCie, AugmentationsVersionsAndRefusals) {
  constexpr uint64_t kPersonalitySlot = 0x30000;
  struct Case {
    const char* name;
    DwarfBytes bytes;
    dzcrash_error_t result;
  };
  auto make = [](const std::string& augmentation, std::initializer_list<uint8_t> data, uint8_t version) {
    DwarfBytes b;
    b.open();
    b.u32(0).u8(version).str(augmentation);
    if (version == 4) b.u8(8).u8(0);
    b.uleb(4).sleb(-4).uleb(30);
    if (!augmentation.empty() && augmentation[0] == 'z') b.uleb(data.size()).bytes(data);
    b.bytes({0x0C, 0x1F, 0x00}).close();
    return b;
  };
  // 'P' with 0x9B: indirect, pc-relative, signed 4 bytes; the slot lies at kPersonalitySlot.
  DwarfBytes zplr;
  {
    zplr.open();
    zplr.u32(0).u8(1).str("zPLR").uleb(1).sleb(-8).uleb(16).uleb(7).u8(0x9B);
    const int32_t distance = static_cast<int32_t>(kPersonalitySlot - (kSection + zplr.size()));
    zplr.u32(static_cast<uint32_t>(distance)).u8(0x1B).u8(0x1B).bytes({0x0C, 0x07, 0x08}).close();
  }

  std::vector<Case> cases;
  cases.push_back({"zR", make("zR", {0x1B}, 1), DZCRASH_OK});
  cases.push_back({"zPLR", zplr, DZCRASH_OK});
  cases.push_back({"zRS marks a signal frame", make("zRS", {0x1B}, 1), DZCRASH_OK});
  cases.push_back({"version 3, no augmentation", make("", {}, 3), DZCRASH_OK});
  cases.push_back({"version 4 reads the address and segment sizes", make("", {}, 4), DZCRASH_OK});
  cases.push_back({"eh", make("eh", {}, 1), DZCRASH_NOT_SUPPORTED});
  cases.push_back({"version 2", make("zR", {0x1B}, 2), DZCRASH_INVALID_ARGUMENT});
  DwarfBytes notCie = make("zR", {0x1B}, 1);
  notCie[4] = 0x20;  // an FDE's CIE pointer where the id belongs
  cases.push_back({"an id that is no CIE id", notCie, DZCRASH_INVALID_ARGUMENT});
  DwarfBytes tooLong = make("zR", {0x1B}, 1);
  tooLong[0] = 0x40;  // a length past the section's end
  cases.push_back({"a length past the section", tooLong, DZCRASH_INVALID_ARGUMENT});

  for (const Case& c : cases) {
    Memory memory;
    memory.place(kSection, c.bytes.data()).place(kPersonalitySlot, {0x00, 0x10, 0x20, 0x30, 0, 0, 0, 0});
    dwarf_section section;
    ASSERT_EQ(section.init(memory.task(), kSection, c.bytes.size()), DZCRASH_OK);
    const gnu_ehptr_reader<uint64_t> reader(le());
    dzcrash_async_dwarf_cie_info info;
    EXPECT_EQ(dzcrash_async_dwarf_cie_info_init<uint64_t>(&info, &section, le(), &reader, kSection), c.result)
        << c.name;
    if (c.result != DZCRASH_OK) continue;
    const std::string name = c.name;
    EXPECT_EQ(info.cie_offset, 4u) << c.name;
    EXPECT_EQ(info.cie_length, c.bytes.size() - 4) << c.name;
    // The initial instructions are the CIE's last three bytes.
    EXPECT_EQ(info.initial_instructions_offset + info.initial_instructions_length, c.bytes.size()) << c.name;
    if (name == "zR") {
      EXPECT_TRUE(info.has_eh_augmentation);
      EXPECT_TRUE(info.eh_augmentation.has_pointer_encoding);
      EXPECT_EQ(info.eh_augmentation.pointer_encoding, 0x1B);
      EXPECT_FALSE(info.eh_augmentation.signal_frame);
      EXPECT_EQ(info.code_alignment_factor, 4u);
      EXPECT_EQ(info.data_alignment_factor, -4);
      EXPECT_EQ(info.return_address_register, 30u);
      EXPECT_EQ(info.initial_instructions_length, 3u);
    } else if (name == "zPLR") {
      EXPECT_TRUE(info.eh_augmentation.has_personality_address);
      EXPECT_EQ(info.eh_augmentation.personality_address, 0x30201000u) << "read through the slot";
      EXPECT_TRUE(info.eh_augmentation.has_lsda_encoding);
      EXPECT_EQ(info.eh_augmentation.lsda_encoding, 0x1B);
      EXPECT_EQ(info.eh_augmentation.pointer_encoding, 0x1B);
    } else if (name == "zRS marks a signal frame") {
      EXPECT_TRUE(info.eh_augmentation.signal_frame);
    } else if (name == "version 3, no augmentation") {
      EXPECT_FALSE(info.has_eh_augmentation);
      EXPECT_EQ(info.address_size, 0u);
    } else if (name == "version 4 reads the address and segment sizes") {
      EXPECT_EQ(info.cie_version, 4u);
      EXPECT_EQ(info.address_size, 8u);
      EXPECT_EQ(info.segment_size, 0u);
      EXPECT_EQ(info.return_address_register, 30u);
    }
  }
}

TEST(DwarfFde, AddressesAugmentationDataAndCiePointers) {
  // eh_frame: a "zR" CIE with pc-relative signed 4-byte addresses, an FDE without augmentation data, and
  // a "zPLR" CIE whose FDE carries 8 bytes of LSDA pointer.
  DwarfBytes b;
  cie(&b, "zR", {0x1B});
  const size_t fde1 = b.open();
  b.u32(static_cast<uint32_t>(fde1 + 4));  // back to offset 0
  const size_t startField = b.size();
  b.u32(static_cast<uint32_t>(0x1000 - (kSection + startField)))
      .u32(0x40)
      .uleb(0)
      .bytes({0x41, 0x0E, 0x10})
      .close();
  const size_t cie2 = b.size();
  cie(&b, "zPLR", {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x00});
  const size_t fde2 = b.open();
  b.u32(static_cast<uint32_t>(fde2 + 4 - cie2))
      .u64(0x2000)
      .u64(0x20)
      .uleb(8)
      .u64(0xDEADBEEF)
      .bytes({0x42})
      .close();
  Placed p(b.data());

  dzcrash_async_dwarf_fde_info fde;
  ASSERT_EQ(dzcrash_async_dwarf_fde_info_init<uint64_t>(&fde, &p.section, le(), kSection + fde1, false),
            DZCRASH_OK);
  EXPECT_EQ(fde.fde_offset, fde1 + 4);
  EXPECT_EQ(fde.cie_offset, 0u);
  EXPECT_EQ(fde.pc_start, 0x1000u) << "relative to the field's own address";
  EXPECT_EQ(fde.pc_end, 0x1040u);
  EXPECT_EQ(dzcrash_async_dwarf_fde_info_instructions_length(&fde), 3u);
  EXPECT_EQ(dzcrash_async_dwarf_fde_info_instructions_offset(&fde), fde1 + b.data()[fde1] + 4 - 3);

  ASSERT_EQ(dzcrash_async_dwarf_fde_info_init<uint64_t>(&fde, &p.section, le(), kSection + fde2, false),
            DZCRASH_OK);
  EXPECT_EQ(fde.cie_offset, cie2);
  EXPECT_EQ(fde.pc_start, 0x2000u);
  EXPECT_EQ(fde.pc_end, 0x2020u);
  EXPECT_EQ(fde.instructions_length, 1u) << "the instructions start after the 8 bytes of LSDA data";

  // A CIE pointer that leads out of the section, and an FDE whose CIE has data-relative addresses (no
  // data base is set when an FDE is read).
  DwarfBytes bad;
  cie(&bad, "zR", {0x30});
  const size_t datarel = bad.open();
  bad.u32(static_cast<uint32_t>(datarel + 4)).u32(0x10).u32(0x10).uleb(0).close();
  const size_t astray = bad.open();
  bad.u32(0x100000).u32(0x10).u32(0x10).uleb(0).close();
  Placed q(bad.data());
  EXPECT_EQ(dzcrash_async_dwarf_fde_info_init<uint64_t>(&fde, &q.section, le(), kSection + datarel, false),
            DZCRASH_NOT_SUPPORTED);
  EXPECT_EQ(dzcrash_async_dwarf_fde_info_init<uint64_t>(&fde, &q.section, le(), kSection + astray, false),
            DZCRASH_INVALID_ARGUMENT);

  // debug_frame, 64-bit format: the id is all ones and the CIE pointer an offset from the section start.
  DwarfBytes d64;
  d64.u64(0);  // something before the CIE, so that its offset is not 0
  const size_t cie64 = d64.size();
  cie(&d64, "", {}, true, true);
  const size_t fde64 = d64.open(true);
  d64.u64(cie64).u64(0x7000).u64(0x30).bytes({0x41}).close();
  Placed r(d64.data());
  ASSERT_EQ(dzcrash_async_dwarf_fde_info_init<uint64_t>(&fde, &r.section, le(), kSection + fde64, true),
            DZCRASH_OK);
  EXPECT_EQ(fde.fde_offset, fde64 + 12);
  EXPECT_EQ(fde.cie_offset, cie64);
  EXPECT_EQ(fde.pc_start, 0x7000u);
  EXPECT_EQ(fde.pc_end, 0x7030u);
  EXPECT_EQ(fde.instructions_length, 1u);
}

TEST(DwarfFrameReader, LinearScanSkipsCiesAndDamagedFdesAndStopsAtTheTerminator) {
  DwarfBytes b;
  cie(&b, "zR", {0x03});  // absolute udata4 addresses
  auto fde = [&b](uint32_t cieBack, uint32_t start, uint32_t length) {
    const size_t at = b.open();
    b.u32(static_cast<uint32_t>(at + 4 - cieBack)).u32(start).u32(length).uleb(0).close();
    return at;
  };
  fde(0, 0x1000, 0x10);
  const size_t damaged = b.open();
  b.u32(0x7FFFFFFF).u32(0x2000).u32(0x10).uleb(0).close();  // its CIE pointer leads nowhere
  const size_t later = fde(0, 0x2000, 0x10);
  b.u32(0);  // terminator
  fde(0, 0x3000, 0x10);
  Placed p(b.data());

  dwarf_frame_reader reader;
  ASSERT_EQ(reader.init(&p.section, le(), true, false), DZCRASH_OK);
  dzcrash_async_dwarf_fde_info info;
  ASSERT_EQ(reader.find_fde(0, 0x1000, &info), DZCRASH_OK);
  EXPECT_EQ(info.pc_start, 0x1000u);
  EXPECT_EQ(reader.find_fde(0, 0x1010, &info), DZCRASH_NOT_FOUND) << "the end is not in the range";
  ASSERT_EQ(reader.find_fde(0, 0x200F, &info), DZCRASH_OK) << "past the damaged FDE";
  EXPECT_EQ(info.fde_offset, later + 4);
  EXPECT_EQ(reader.find_fde(0, 0x3000, &info), DZCRASH_NOT_FOUND) << "after the terminator";
  EXPECT_EQ(reader.find_fde(static_cast<int64_t>(damaged), 0x2004, &info), DZCRASH_OK);
  EXPECT_EQ(reader.find_fde(static_cast<int64_t>(b.size()), 0x1000, &info), DZCRASH_INVALID_ARGUMENT);
  EXPECT_EQ(reader.find_fde(-1, 0x1000, &info), DZCRASH_INVALID_ARGUMENT);

  // The same scan in debug_frame mode: the CIE id is all ones, the FDE's pointer an offset.
  DwarfBytes d;
  cie(&d, "", {}, false, true);
  const size_t at = d.open();
  d.u32(0).u64(0x5000).u64(0x20).close();
  Placed q(d.data());
  dwarf_frame_reader debugReader;
  ASSERT_EQ(debugReader.init(&q.section, le(), true, true), DZCRASH_OK);
  ASSERT_EQ(debugReader.find_fde(0, 0x501F, &info), DZCRASH_OK);
  EXPECT_EQ(info.fde_offset, at + 4);
  dwarf_frame_entry entry;
  ASSERT_EQ(debugReader.read_entry(0, &entry), DZCRASH_OK);
  EXPECT_TRUE(entry.is_cie);
  EXPECT_EQ(entry.next_offset, at);
}

TEST(DwarfEhFrameHdr, BinarySearchOfTheTable) {
  // The header at kSection: version 1, eh_frame_ptr pcrel sdata4, count udata4, table datarel sdata4.
  constexpr uint64_t kEhFrame = kSection + 0x100;
  DwarfBytes h;
  h.bytes({1, 0x1B, 0x03, 0x3B});
  h.u32(static_cast<uint32_t>(kEhFrame - (kSection + 4))).u32(3);
  const uint32_t starts[] = {0x1000, 0x1100, 0x1300};
  for (uint32_t i = 0; i < 3; ++i) h.u32(starts[i] - static_cast<uint32_t>(kSection)).u32(0x100 + 0x20 * i);
  Memory memory;
  memory.place(kSection, h.data());

  dwarf_eh_frame_hdr hdr;
  ASSERT_EQ(hdr.init(memory.task(), kSection, h.size(), le(), true), DZCRASH_OK);
  EXPECT_EQ(hdr.eh_frame_address(), kEhFrame);
  ASSERT_TRUE(hdr.has_table());
  EXPECT_EQ(hdr.fde_count(), 3u);
  struct Case {
    uint64_t pc;
    dzcrash_error_t result;
    uint64_t fde;
  };
  for (const Case& c :
       {Case{0xFFF, DZCRASH_NOT_FOUND, 0}, Case{0x1000, DZCRASH_OK, kSection + 0x100},
        Case{0x10FF, DZCRASH_OK, kSection + 0x100}, Case{0x1100, DZCRASH_OK, kSection + 0x120},
        Case{0x12FF, DZCRASH_OK, kSection + 0x120}, Case{0x9000, DZCRASH_OK, kSection + 0x140}}) {
    uint64_t fde = 0;
    EXPECT_EQ(hdr.find(c.pc, &fde), c.result) << std::hex << c.pc;
    if (c.result == DZCRASH_OK) {
      EXPECT_EQ(fde, c.fde) << std::hex << c.pc;
    }
  }

  // Without a table (the linker could not sort one) the header still names .eh_frame.
  DwarfBytes bare;
  bare.bytes({1, 0x1B, 0xFF, 0xFF}).u32(static_cast<uint32_t>(kEhFrame - (kSection + 4)));
  Memory bareMemory;
  bareMemory.place(kSection, bare.data());
  dwarf_eh_frame_hdr noTable;
  ASSERT_EQ(noTable.init(bareMemory.task(), kSection, bare.size(), le(), true), DZCRASH_OK);
  EXPECT_EQ(noTable.eh_frame_address(), kEhFrame);
  EXPECT_FALSE(noTable.has_table());
  uint64_t fde = 0;
  EXPECT_EQ(noTable.find(0x1000, &fde), DZCRASH_NOT_SUPPORTED);

  // Another version, and a count the section cannot hold.
  DwarfBytes v2 = h;
  v2[0] = 2;
  Memory v2Memory;
  v2Memory.place(kSection, v2.data());
  EXPECT_EQ(noTable.init(v2Memory.task(), kSection, v2.size(), le(), true), DZCRASH_INVALID_ARGUMENT);
  DwarfBytes huge = h;
  huge[8] = 0xFF;
  Memory hugeMemory;
  hugeMemory.place(kSection, huge.data());
  ASSERT_EQ(noTable.init(hugeMemory.task(), kSection, huge.size(), le(), true), DZCRASH_OK);
  EXPECT_FALSE(noTable.has_table());
}
