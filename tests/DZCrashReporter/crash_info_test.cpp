#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashMachOFile.h"
#include "DZCrashReporter/report/DZCrashLogWriter.h"
#include "tests/DZCrashReporter/MachOFixture.h"
#include "tests/support/CaseName.h"

using namespace dzcrash;
using namespace dzcrash::fixtures;

namespace {

// Where a long string lies in the tests' tasks, away from the fixture's segments.
constexpr uint64_t kLongStringAddress = 0x200000000;
constexpr uint64_t kUnmapped = 0x300000000;
// The message pointer of the fixture as built, standing for "use the fixture's own message".
constexpr uint64_t kFixtureMessage = UINT64_MAX;

struct CrashInfoCase {
  std::string name;
  uint32_t version;
  uint64_t message;
  uint64_t message2;
  std::optional<std::string> expected;
};

void PrintTo(const CrashInfoCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kLong(2000, 'm');

const CrashInfoCase kCases[] = {
    {"version 5", 5, kFixtureMessage, 0, "fixture message"},
    {"version 4", 4, kFixtureMessage, 0, "fixture message"},
    {"version 3 is ignored", 3, kFixtureMessage, 0, std::nullopt},
    {"null message selects the second", 5, 0, kFixtureMessage, "fixture message"},
    {"unreadable message selects the second", 5, kUnmapped, kFixtureMessage, "fixture message"},
    {"neither message", 5, 0, 0, std::nullopt},
    {"long message is cut at 1024 bytes", 5, kLongStringAddress, 0, std::string(1024, 'm')},
};

class CrashInfo : public ::testing::TestWithParam<CrashInfoCase> {};

}  // namespace

// The x86_64 fixture executable carries a version-5 section whose message is "fixture message"; each
// case patches the section's words and reads it from a buffer task at the fixture's own addresses.
TEST_P(CrashInfo, ReadsTheSectionsMessage) {
  const CrashInfoCase& c = GetParam();
  const std::string name = "x86_64/fx_exe";
  std::vector<uint8_t> bytes = readFile(kFixtures + name);
  const OracleHeaders headers = parsePrivateHeaders(readText(kFixtures + name + ".private-headers.txt"));
  const OracleSection* section = headers.section("__crash_info");
  ASSERT_NE(section, nullptr);
  uint64_t fixtureMessage = 0;
  std::memcpy(&fixtureMessage, bytes.data() + section->offset + 8, sizeof(fixtureMessage));
  auto patch = [&](size_t offset, uint64_t value) {
    if (value == kFixtureMessage) value = fixtureMessage;
    std::memcpy(bytes.data() + section->offset + offset, &value, sizeof(value));
  };
  patch(0, c.version);
  patch(8, c.message);
  patch(32, c.message2);

  std::string error;
  auto file = DZCrashMachOFile::fromBytes(std::move(bytes), DZCrashMachOFile::kAtTextVmaddr, &error);
  ASSERT_NE(file, nullptr) << error;
  std::vector<dzcrash_task_region> regions(file->task()->regions,
                                           file->task()->regions + file->task()->region_count);
  regions.push_back({kLongStringAddress, kLong.c_str(), kLong.size() + 1, true});
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, regions.data(), regions.size());
  dzcrash_async_macho image;
  ASSERT_EQ(DZcrash_nasync_macho_init(&image, &task, name.c_str(), file->headerAddress()), DZCRASH_OK);

  char buffer[DZCRASH_WRITER_CRASH_INFO_MAX + 1];
  const bool found = DZcrash_writer_extract_crash_info_message(&image, buffer);
  DZcrash_nasync_macho_free(&image);
  ASSERT_EQ(found, c.expected.has_value());
  if (found) {
    EXPECT_EQ(std::string(buffer), *c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashInfo, ::testing::ValuesIn(kCases), quorvelle::test::NamedCase());

TEST(CrashInfoImages, AnImageWithoutTheSectionHasNoMessage) {
  LoadedFixture fixture("x86_64/libfx.dylib");
  ASSERT_EQ(fixture.status(), DZCRASH_OK);
  char buffer[DZCRASH_WRITER_CRASH_INFO_MAX + 1];
  EXPECT_FALSE(DZcrash_writer_extract_crash_info_message(fixture.image(), buffer));
}
