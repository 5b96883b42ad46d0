// Call-frame information of real files: the committed fixtures against their llvm-dwarfdump oracles,
// and this machine's libraries and this test binary against llvm-dwarfdump-16 itself and against their
// own .eh_frame_hdr tables.

#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashAsyncTaskCache.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFrameReader.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;
using namespace dzcrash::async;

namespace {

const std::string kFixtures = QUORVELLE_SOURCE_DIR "/tests/fixtures";
const std::string kTool = QUORVELLE_BINARY_DIR "/tools/dzcrash-cfi-dump";
const std::string kLlvmDwarfdump = "/usr/bin/llvm-dwarfdump-16";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Where two long texts first differ, for a readable failure.
std::string firstDifference(const std::string& actual, const std::string& expected) {
  std::istringstream a(actual), e(expected);
  std::string lineA, lineE;
  for (size_t line = 1;; ++line) {
    const bool moreA = static_cast<bool>(std::getline(a, lineA));
    const bool moreE = static_cast<bool>(std::getline(e, lineE));
    if (!moreA && !moreE) return "the texts are equal";
    if (!moreA || !moreE || lineA != lineE) {
      return "line " + std::to_string(line) + ":\n  ours:   " + (moreA ? lineA : "<end>") +
             "\n  oracle: " + (moreE ? lineE : "<end>");
    }
  }
}

std::string dumpWithTool(const std::string& path) {
  quorvelle::test::TempDir dir;
  const quorvelle::test::ProgramRun run = quorvelle::test::runProgram({kTool, path}, dir);
  EXPECT_EQ(run.status, 0) << path << ": " << run.err;
  return run.out;
}

// The entry headers of an llvm-dwarfdump text: offset, length, id or CIE pointer, and for FDEs the
// CIE's offset and the address range.
struct OracleEntry {
  uint64_t offset;
  uint64_t length;
  uint64_t id;
  bool cie;
  uint64_t cieOffset;
  uint64_t pcStart;
  uint64_t pcEnd;
  uint64_t version;
  uint64_t codeAlignment;
  int64_t dataAlignment;
  uint64_t returnAddress;
};

std::vector<OracleEntry> oracleEntries(const std::string& text) {
  const std::regex header(
      R"(^([0-9a-f]{8}) ([0-9a-f]{8}) ([0-9a-f]{8}) (CIE|FDE cie=([0-9a-f]{8}) pc=([0-9a-f]{8,})\.\.\.([0-9a-f]{8,}))$)");
  const std::regex field(
      R"(^  (Version|Code alignment factor|Data alignment factor|Return address column): +(-?\d+)$)");
  std::vector<OracleEntry> entries;
  std::istringstream in(text);
  std::string line;
  std::smatch m;
  auto hex = [](const std::string& s) { return std::stoull(s, nullptr, 16); };
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, header)) {
      OracleEntry e{hex(m[1]), hex(m[2]), hex(m[3]), m[4] == "CIE", 0, 0, 0, 0, 0, 0, 0};
      if (!e.cie) e.cieOffset = hex(m[5]), e.pcStart = hex(m[6]), e.pcEnd = hex(m[7]);
      entries.push_back(e);
    } else if (std::regex_match(line, m, field) && !entries.empty()) {
      const int64_t value = std::stoll(m[2]);
      if (m[1] == "Version") entries.back().version = value;
      if (m[1] == "Code alignment factor") entries.back().codeAlignment = value;
      if (m[1] == "Data alignment factor") entries.back().dataAlignment = value;
      if (m[1] == "Return address column") entries.back().returnAddress = value;
    }
  }
  return entries;
}

const char* const kMachOFixtures[] = {
    "x86_64/libfx.dylib", "x86_64/fx_exe",          "x86_64/libfx_walk.dylib", "arm64/libfx.dylib",
    "arm64/fx_exe",       "arm64/libfx_walk.dylib", "arm64/libfx_many.dylib",  "arm64_32/libfx.dylib",
    "arm64_32/fx_exe",    "armv7/libfx.dylib",
};

}  // namespace

TEST(DwarfCfiFiles, TheToolPrintsTheFixturesAsTheirOraclesDo) {
  // (folder, file): the oracles name each file relative to its folder.
  std::vector<std::pair<std::string, std::string>> files;
  for (const char* name : kMachOFixtures) files.emplace_back(kFixtures + "/macho/", name);
  // Objects compiled without unwind tables: their call-frame information is in .debug_frame.
  files.emplace_back(kFixtures + "/elf/", "fx_debug_frame_gcc.o");
  files.emplace_back(kFixtures + "/elf/", "fx_debug_frame_clang.o");
  for (const auto& [folder, name] : files) {
    std::string out = dumpWithTool(folder + name);
    if (out.rfind(folder, 0) == 0) out.erase(0, folder.size());
    const std::string expected = readFile(folder + name + ".eh-frame.txt");
    EXPECT_EQ(out, expected) << name << ": " << firstDifference(out, expected);
  }
}

TEST(DwarfCfiFiles, EveryFixtureRecordParsesToTheOraclesFields) {
  for (const char* name : kMachOFixtures) {
    const std::string path = kFixtures + "/macho/" + name;
    std::string error;
    const auto file = DZCrashMachOFile::load(path, DZCrashMachOFile::kAtTextVmaddr, &error);
    ASSERT_NE(file, nullptr) << error;
    dzcrash_async_macho image;
    ASSERT_EQ(DZcrash_nasync_macho_init(&image, file->task(), name, file->headerAddress()), DZCRASH_OK);
    uint64_t address = 0, size = 0;
    const bool hasSection =
        DZcrash_async_macho_find_section(&image, "__TEXT", "__eh_frame", &address, &size) == DZCRASH_OK;
    const std::vector<OracleEntry> expected = oracleEntries(readFile(path + ".eh-frame.txt"));
    EXPECT_EQ(hasSection, !expected.empty()) << name;
    if (!hasSection) {
      DZcrash_nasync_macho_free(&image);
      continue;
    }
    const dzcrash_async_byteorder_t* byteorder = DZcrash_async_macho_byteorder(&image);
    dwarf_section section;
    ASSERT_EQ(section.init(file->task(), address, size), DZCRASH_OK);
    dwarf_frame_reader reader;
    ASSERT_EQ(reader.init(&section, byteorder, image.m64, false), DZCRASH_OK);

    size_t index = 0;
    for (uint64_t offset = 0; offset < size; ++index) {
      dwarf_frame_entry entry;
      ASSERT_EQ(reader.read_entry(offset, &entry), DZCRASH_OK) << name << " @" << offset;
      ASSERT_LT(index, expected.size()) << name;
      const OracleEntry& e = expected[index];
      const std::string where = std::string(name) + " entry " + std::to_string(index);
      EXPECT_EQ(entry.offset, e.offset) << where;
      EXPECT_EQ(entry.length, e.length) << where;
      EXPECT_EQ(entry.id, e.id) << where;
      ASSERT_EQ(entry.is_cie, e.cie) << where;
      if (e.cie) {
        dzcrash_async_dwarf_cie_info cie;
        const gnu_ehptr_reader<uint64_t> pointers(byteorder);
        const gnu_ehptr_reader<uint32_t> pointers32(byteorder);
        const dzcrash_error_t err = image.m64 ? dzcrash_async_dwarf_cie_info_init<uint64_t>(
                                                    &cie, &section, byteorder, &pointers, address + offset)
                                              : dzcrash_async_dwarf_cie_info_init<uint32_t>(
                                                    &cie, &section, byteorder, &pointers32, address + offset);
        ASSERT_EQ(err, DZCRASH_OK) << where;
        EXPECT_EQ(cie.cie_version, e.version) << where;
        EXPECT_EQ(cie.code_alignment_factor, e.codeAlignment) << where;
        EXPECT_EQ(cie.data_alignment_factor, e.dataAlignment) << where;
        EXPECT_EQ(cie.return_address_register, e.returnAddress) << where;
      } else {
        dzcrash_async_dwarf_fde_info fde;
        dzcrash_async_dwarf_cie_info cie;
        ASSERT_EQ(reader.parse_fde(offset, &fde, &cie), DZCRASH_OK) << where;
        EXPECT_EQ(fde.cie_offset, e.cieOffset) << where;
        EXPECT_EQ(fde.pc_start, e.pcStart) << where;
        EXPECT_EQ(fde.pc_end, e.pcEnd) << where;
        // The scan from the start finds this FDE at both ends of its range.
        for (const uint64_t pc : {e.pcStart, e.pcEnd - 1}) {
          dzcrash_async_dwarf_fde_info found;
          ASSERT_EQ(reader.find_fde(0, pc, &found), DZCRASH_OK) << where;
          EXPECT_EQ(found.fde_offset, fde.fde_offset) << where;
        }
      }
      offset = entry.next_offset;
    }
    EXPECT_EQ(index, expected.size()) << name;
    DZcrash_nasync_macho_free(&image);
  }
}

TEST(DwarfCfiFiles, TheHeaderSearchAndTheScanAgreeOnEveryFdeOfEveryLoadedImage) {
  dzcrash_async_image_list list;
  const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&list, DZcrash_async_task_self(), &parser));
  DZcrash_nasync_image_list_add_loaded(&list);
  // A cache, as the walker reads: checked reads of the own process one by one are slow.
  dzcrash_task_cache cache;
  DZcrash_task_cache_init(&cache, DZcrash_async_task_self());
  dzcrash_task task;
  DZcrash_task_init_cached(&task, &cache);

  size_t imagesWithTables = 0;
  DZcrash_async_image_list_set_reading(&list, true);
  for (dzcrash_async_image* image = DZcrash_async_image_list_next(&list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(&list, image)) {
    const auto* elf = static_cast<const dzcrash_async_elf*>(image->parsed);
    if (elf->eh_frame_hdr_address == 0) continue;
    const std::string name = image->name;
    ASSERT_NE(elf->eh_frame_address, 0u) << name;
    dwarf_eh_frame_hdr hdr;
    ASSERT_EQ(hdr.init(&task, elf->eh_frame_hdr_address, elf->eh_frame_hdr_size,
                       DZcrash_async_byteorder_little_endian(), true),
              DZCRASH_OK)
        << name;
    EXPECT_EQ(hdr.eh_frame_address(), elf->eh_frame_address) << name;
    if (!hdr.has_table()) continue;
    ++imagesWithTables;

    dwarf_section section;
    ASSERT_EQ(section.init(&task, elf->eh_frame_address, elf->eh_frame_segment_end - elf->eh_frame_address),
              DZCRASH_OK);
    dwarf_frame_reader reader;
    ASSERT_EQ(reader.init(&section, DZcrash_async_byteorder_little_endian(), true, false), DZCRASH_OK);
    // The scan, entry by entry: every FDE it meets is the one the table names for both ends of its
    // range. It stops at the terminator, or after as many FDEs as the table has (the vDSO's .eh_frame
    // has no terminator: its code follows).
    uint64_t fdes = 0;
    for (uint64_t offset = 0; offset < section.length() && fdes < hdr.fde_count();) {
      dwarf_frame_entry entry;
      ASSERT_EQ(reader.read_entry(offset, &entry), DZCRASH_OK) << name;
      if (entry.is_terminator) break;
      if (!entry.is_cie) {
        dzcrash_async_dwarf_fde_info fde;
        dzcrash_async_dwarf_cie_info cie;
        ASSERT_EQ(reader.parse_fde(offset, &fde, &cie), DZCRASH_OK) << name << " @" << offset;
        ++fdes;
        for (const uint64_t pc : {fde.pc_start, fde.pc_end - 1}) {
          uint64_t tableFde = 0;
          ASSERT_EQ(hdr.find(pc, &tableFde), DZCRASH_OK) << name << " " << std::hex << pc;
          EXPECT_EQ(tableFde, section.base_address() + offset) << name << " " << std::hex << pc;
        }
        // The scan from the section's start, for a spread of FDEs (all of them would take quadratic time).
        if (fdes % 97 == 1) {
          dzcrash_async_dwarf_fde_info found;
          ASSERT_EQ(reader.find_fde(0, fde.pc_start, &found), DZCRASH_OK) << name;
          EXPECT_EQ(found.fde_offset, fde.fde_offset) << name;
        }
      }
      offset = entry.next_offset;
    }
    EXPECT_EQ(fdes, hdr.fde_count()) << name;
  }
  DZcrash_async_image_list_set_reading(&list, false);
  EXPECT_GE(imagesWithTables, 3u) << "the test binary, libc and libstdc++ at least";
  DZcrash_nasync_image_list_free(&list);
}

TEST(DwarfCfiFiles, TheToolMatchesLlvmDwarfdumpOnThisMachinesLibrariesAndThisBinary) {
  ASSERT_EQ(access(kLlvmDwarfdump.c_str(), X_OK), 0)
      << kLlvmDwarfdump << " is missing (Debian package llvm-16)";
  std::vector<std::string> files = {std::filesystem::read_symlink("/proc/self/exe").string()};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* context) {
        const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        const std::string base = std::filesystem::path(name).filename().string();
        if (base == "libc.so.6" || base == "libstdc++.so.6") {
          static_cast<std::vector<std::string>*>(context)->push_back(name);
        }
        return 0;
      },
      &files);
  ASSERT_EQ(files.size(), 3u);
  for (const std::string& file : files) {
    quorvelle::test::TempDir dir;
    const quorvelle::test::ProgramRun oracle =
        quorvelle::test::runProgram({kLlvmDwarfdump, "--eh-frame", file}, dir);
    ASSERT_EQ(oracle.status, 0) << oracle.err;
    const std::string out = dumpWithTool(file);
    EXPECT_EQ(out == oracle.out, true) << file << ": " << firstDifference(out, oracle.out);
  }
}
