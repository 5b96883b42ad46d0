#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashReportFormat.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;

namespace {

std::vector<uint8_t> pack(const ProtobufCMessage* message) {
  std::vector<uint8_t> out(protobuf_c_message_get_packed_size(message));
  protobuf_c_message_pack(message, out.data());
  return out;
}

// Nested messages have no unpack function of their own in protobuf-c.
template <typename T>
T* unpackAs(const ProtobufCMessageDescriptor* descriptor, size_t length, const uint8_t* data) {
  return reinterpret_cast<T*>(protobuf_c_message_unpack(descriptor, nullptr, length, data));
}

// The smallest report the schema allows: only the required sections.
std::vector<uint8_t> minimalReport() {
  Dzcrash__CrashReport report = DZCRASH__CRASH_REPORT__INIT;
  Dzcrash__CrashReport__SystemInfo system = DZCRASH__CRASH_REPORT__SYSTEM_INFO__INIT;
  Dzcrash__CrashReport__ApplicationInfo app = DZCRASH__CRASH_REPORT__APPLICATION_INFO__INIT;
  Dzcrash__CrashReport__Signal signal = DZCRASH__CRASH_REPORT__SIGNAL__INIT;
  system.os_version = const_cast<char*>("6.1");
  system.timestamp = 1700000000;
  system.architecture = DZCRASH_HOST_ARCHITECTURE;
  system.has_operating_system = 1;
  system.operating_system = DZCRASH_HOST_OPERATING_SYSTEM;
  app.identifier = const_cast<char*>("com.quorvelle.app");
  app.version = const_cast<char*>("1");
  signal.name = const_cast<char*>("SIGSEGV");
  signal.code = const_cast<char*>("SEGV_MAPERR");
  signal.address = 0x10;
  report.system_info = &system;
  report.application_info = &app;
  report.signal = &signal;
  return pack(&report.base);
}

// Writes a report file the way the crash path does (header through the async file, then the message)
// and reads the whole file back.
std::vector<uint8_t> writeReportFile(const quorvelle::test::TempDir& dir,
                                     const std::vector<uint8_t>& message) {
  const std::string path = (dir / "live_report.dzcrash").string();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  EXPECT_GE(fd, 0);
  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, fd, 0);
  EXPECT_TRUE(DZcrash_report_header_write(&file));
  EXPECT_TRUE(DZcrash_async_file_write(&file, message.data(), message.size()));
  EXPECT_TRUE(DZcrash_async_file_close(&file));
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(ReportFormat, HeaderIsCheckedBeforeTheMessageDecodes) {
  quorvelle::test::TempDir dir;
  const std::vector<uint8_t> bytes = writeReportFile(dir, minimalReport());
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), std::string("dzcrash\x01", 8));

  size_t offset = 0;
  ASSERT_EQ(DZcrash_report_header_check(bytes.data(), bytes.size(), &offset), DZCRASH_OK);
  EXPECT_EQ(offset, 8u);
  Dzcrash__CrashReport* report =
      dzcrash__crash_report__unpack(nullptr, bytes.size() - offset, bytes.data() + offset);
  ASSERT_NE(report, nullptr);
  EXPECT_STREQ(report->signal->name, "SIGSEGV");
  EXPECT_EQ(report->system_info->operating_system,
            DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN);
  // Optional sections are absent, not empty.
  EXPECT_EQ(report->exception, nullptr);
  EXPECT_EQ(report->process_info, nullptr);
  EXPECT_EQ(report->machine_info, nullptr);
  EXPECT_EQ(report->report_info, nullptr);
  EXPECT_FALSE(report->has_custom_data);
  EXPECT_EQ(report->system_info->os_build, nullptr);
  EXPECT_EQ(report->application_info->marketing_version, nullptr);
  EXPECT_EQ(report->n_threads, 0u);
  dzcrash__crash_report__free_unpacked(report, nullptr);

  struct Case {
    const char* name;
    std::string bytes;
  };
  const std::string body(reinterpret_cast<const char*>(bytes.data()) + 8, bytes.size() - 8);
  const Case rejected[] = {
      {"empty", ""},
      {"magic only", "dzcrash"},
      {"header only", std::string("dzcrash\x01", 8)},
      {"version 2", std::string("dzcrash\x02", 8) + body},
      {"version 0", std::string("dzcrash\x00", 8) + body},
      {"other magic", std::string("dzcrasH\x01", 8) + body},
  };
  for (const Case& c : rejected) {
    EXPECT_EQ(DZcrash_report_header_check(c.bytes.data(), c.bytes.size(), &offset), DZCRASH_INVALID_DATA)
        << c.name;
  }
  EXPECT_EQ(DZcrash_report_header_check(nullptr, 100, &offset), DZCRASH_INVALID_DATA);
}

TEST(ReportFormat, WireLayoutOfRepeatedCodesAndBareFrames) {
  // Repeated scalars are not packed: every code is its own field-2 entry.
  Dzcrash__CrashReport__Signal__MachException mach = DZCRASH__CRASH_REPORT__SIGNAL__MACH_EXCEPTION__INIT;
  uint64_t codes[] = {1, 0x10};
  mach.type = 1;
  mach.n_codes = 2;
  mach.codes = codes;
  EXPECT_EQ(pack(&mach.base), (std::vector<uint8_t>{0x08, 0x01, 0x10, 0x01, 0x10, 0x10}));

  // A frame without a symbol carries only field 3.
  Dzcrash__CrashReport__Thread__StackFrame frame = DZCRASH__CRASH_REPORT__THREAD__STACK_FRAME__INIT;
  frame.pc = 0x1234;
  EXPECT_EQ(pack(&frame.base), (std::vector<uint8_t>{0x18, 0xB4, 0x24}));

  // A reader that meets the packed form of the codes still decodes them.
  const std::vector<uint8_t> packedCodes = {0x08, 0x01, 0x12, 0x02, 0x01, 0x10};
  Dzcrash__CrashReport__Signal__MachException* decoded =
      unpackAs<Dzcrash__CrashReport__Signal__MachException>(
          &dzcrash__crash_report__signal__mach_exception__descriptor, packedCodes.size(), packedCodes.data());
  ASSERT_NE(decoded, nullptr);
  ASSERT_EQ(decoded->n_codes, 2u);
  EXPECT_EQ(decoded->codes[0], 1u);
  EXPECT_EQ(decoded->codes[1], 0x10u);
  protobuf_c_message_free_unpacked(&decoded->base, nullptr);
}

TEST(ReportFormat, DefaultsOfOptionalEnumsAreTheUnknownValues) {
  const std::vector<uint8_t> noOs = {0x12, 0x01, '6', 0x18,
                                     0x01, 0x20, 0x00};  // os_version, architecture, timestamp
  Dzcrash__CrashReport__SystemInfo* system = unpackAs<Dzcrash__CrashReport__SystemInfo>(
      &dzcrash__crash_report__system_info__descriptor, noOs.size(), noOs.data());
  ASSERT_NE(system, nullptr);
  EXPECT_FALSE(system->has_operating_system);
  EXPECT_EQ(system->operating_system, DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN);
  EXPECT_EQ(system->architecture, DZCRASH__ARCHITECTURE__X86_64);
  protobuf_c_message_free_unpacked(&system->base, nullptr);

  const std::vector<uint8_t> processor = {0x10, 0x07, 0x18, 0x03};
  Dzcrash__CrashReport__Processor* cpu = unpackAs<Dzcrash__CrashReport__Processor>(
      &dzcrash__crash_report__processor__descriptor, processor.size(), processor.data());
  ASSERT_NE(cpu, nullptr);
  EXPECT_EQ(cpu->encoding, DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN);
  protobuf_c_message_free_unpacked(&cpu->base, nullptr);

  // A missing required field makes the message undecodable.
  const std::vector<uint8_t> noTimestamp = {0x12, 0x01, '6', 0x18, 0x01};
  EXPECT_EQ(unpackAs<Dzcrash__CrashReport__SystemInfo>(&dzcrash__crash_report__system_info__descriptor,
                                                       noTimestamp.size(), noTimestamp.data()),
            nullptr);
}
