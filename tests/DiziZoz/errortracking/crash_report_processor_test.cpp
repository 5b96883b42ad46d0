#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.h"
#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/errortracking/DiziZozCrashReportProcessor.h"
#include "tests/DZCrashReporter/CrashReportFixture.h"
#include "tests/support/CaseName.h"

namespace {

using dizizoz::DiziZozErrorTrackingConfig;
using dizizoz::Properties;
using dzcrash::test::ExceptionShape;
using dzcrash::test::FrameShape;
using dzcrash::test::ImageShape;
using dzcrash::test::MachShape;
using dzcrash::test::ProcessorShape;
using dzcrash::test::ReportShape;
using dzcrash::test::ThreadShape;
namespace processor = dizizoz::DiziZozCrashReportProcessor;

constexpr const char* kProgram = "/opt/quorvelle/bin/quorvelle";
constexpr const char* kLibc = "/usr/lib/x86_64-linux-gnu/libc.so.6";

dzcrash::DZCrashReport decoded(const ReportShape& shape) {
  auto report = dzcrash::DZCrashReport::fromData(dzcrash::test::packReportFile(shape));
  if (!report.ok()) throw std::runtime_error(report.error().description());
  return std::move(report).value();
}

Properties process(const ReportShape& shape,
                   const DiziZozErrorTrackingConfig& config = DiziZozErrorTrackingConfig()) {
  return processor::processReport(decoded(shape), config);
}

// The report's one exception entry.
Properties entryOf(const Properties& properties) {
  EXPECT_EQ(properties.at("$exception_level"), "fatal");
  const auto& list = properties.at("$exception_list");
  EXPECT_EQ(list.size(), 1u);
  return list.at(0);
}

ReportShape programReport() {
  ReportShape shape;
  shape.images = {ImageShape{.base = 0x400000, .size = 0x10000, .name = kProgram},
                  ImageShape{.base = 0x7f0000000000, .size = 0x200000, .name = kLibc}};
  return shape;
}

TEST(CrashReportProcessor, UncaughtExceptionUsesItsOwnFramesOutermostFirst) {
  ReportShape shape = programReport();
  shape.exception =
      ExceptionShape{.name = "NSInvalidArgumentException",
                     .reason = "unrecognized selector",
                     .frames = {{.pc = 0x401010, .symbol = {{.name = "thrower", .start = 0x401000}}},
                                {.pc = 0x7f0000001234}}};
  shape.threads = {ThreadShape{.number = 2, .crashed = true, .frames = {{.pc = 0x405000}}}};
  const Properties entry = entryOf(process(shape));

  EXPECT_EQ(entry.at("type"), "NSInvalidArgumentException");
  EXPECT_EQ(entry.at("value"), "unrecognized selector");
  EXPECT_EQ(entry.at("mechanism"),
            (Properties{{"type", "nsexception"}, {"handled", false}, {"synthetic", false}}));
  EXPECT_EQ(entry.at("thread_id"), 2);
  const auto& frames = entry.at("stacktrace").at("frames");
  EXPECT_EQ(entry.at("stacktrace").at("type"), "raw");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Properties{{"instruction_addr", "0x00007f0000001234"},
                                   {"platform", "apple"},
                                   {"in_app", false},
                                   {"module", "libc.so.6"},
                                   {"package", kLibc},
                                   {"image_addr", "0x00007f0000000000"}}));
  EXPECT_EQ(frames[1], (Properties{{"instruction_addr", "0x0000000000401010"},
                                   {"platform", "apple"},
                                   {"in_app", true},
                                   {"module", "quorvelle"},
                                   {"package", kProgram},
                                   {"image_addr", "0x0000000000400000"},
                                   {"function", "thrower"},
                                   {"symbol_addr", "0x0000000000401000"}}));
}

TEST(CrashReportProcessor, SignalEntryCarriesItsMessageAndMeta) {
  ReportShape shape = programReport();
  shape.signalAddress = 0x10;
  shape.threads = {ThreadShape{.number = 0, .crashed = true, .frames = {{.pc = 0x401010}, {.pc = 0x401fff}}}};
  const Properties properties = process(shape);
  const Properties entry = entryOf(properties);
  EXPECT_EQ(entry.at("type"), "SIGSEGV");
  EXPECT_EQ(entry.at("value"), "SIGSEGV (code SEGV_MAPERR) at address 0x0000000000000010");
  EXPECT_EQ(entry.at("mechanism"),
            (Properties{{"type", "signal"},
                        {"handled", false},
                        {"synthetic", false},
                        {"meta", {{"signal", {{"code", "SEGV_MAPERR"}, {"name", "SIGSEGV"}}}}}}));
  const auto& frames = entry.at("stacktrace").at("frames");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].at("instruction_addr"), "0x0000000000401fff");  // the caller first
  EXPECT_EQ(frames[1].at("instruction_addr"), "0x0000000000401010");  // the crash site last
  ASSERT_EQ(properties.at("$debug_images").size(), 1u);
  EXPECT_EQ(properties.at("$debug_images")[0].at("code_file"), kProgram);
}

struct SignalCase {
  std::string name;
  std::string signal;
  std::string code;
  std::optional<std::string> crashInfoMessage;
  std::optional<std::string> type;
  std::optional<std::string> value;
  Properties signalMeta;
};

class CrashReportSignalTable : public testing::TestWithParam<SignalCase> {};

TEST_P(CrashReportSignalTable, TypeValueAndMeta) {
  const SignalCase& c = GetParam();
  ReportShape shape = programReport();
  shape.signalName = c.signal;
  shape.signalCode = c.code;
  shape.signalAddress = 0x1234;
  shape.crashInfoMessage = c.crashInfoMessage;
  const Properties entry = entryOf(process(shape));
  EXPECT_EQ(entry.contains("type") ? std::optional(entry.at("type").get<std::string>()) : std::nullopt,
            c.type);
  EXPECT_EQ(entry.contains("value") ? std::optional(entry.at("value").get<std::string>()) : std::nullopt,
            c.value);
  EXPECT_EQ(entry.at("mechanism").at("meta").at("signal"), c.signalMeta);
}

const std::string kLongMessage = "Fatal error: " + std::string(200000, 'x') + ": file a.swift, line 1";

INSTANTIATE_TEST_SUITE_P(
    Cases, CrashReportSignalTable,
    testing::Values(
        SignalCase{"fatal_error_message",
                   "SIGTRAP",
                   "TRAP_BRKPT",
                   "Fatal error: Index out of range: file Foo.swift, line 12",
                   "Fatal error",
                   "Fatal error: Index out of range: file Foo.swift, line 12",
                   {{"code", "TRAP_BRKPT"},
                    {"name", "SIGTRAP"},
                    {"crash_info_message", "Fatal error: Index out of range: file Foo.swift, line 12"}}},
        SignalCase{"precondition_with_source_location",
                   "SIGTRAP",
                   "TRAP_BRKPT",
                   "Foo.swift:12: Precondition failed: bad",
                   "Precondition failed",
                   "Foo.swift:12: Precondition failed: bad",
                   {{"code", "TRAP_BRKPT"},
                    {"name", "SIGTRAP"},
                    {"crash_info_message", "Foo.swift:12: Precondition failed: bad"}}},
        SignalCase{"message_trimmed_and_matched_in_any_case",
                   "SIGTRAP",
                   "TRAP_BRKPT",
                   "\n  assertion FAILED: file a.swift, line 3 \n",
                   "assertion FAILED",
                   "assertion FAILED: file a.swift, line 3",
                   {{"code", "TRAP_BRKPT"},
                    {"name", "SIGTRAP"},
                    {"crash_info_message", "assertion FAILED: file a.swift, line 3"}}},
        SignalCase{"other_message_keeps_the_signal_text",
                   "SIGABRT",
                   "SI_TKILL",
                   "abort() called",
                   "SIGABRT",
                   "SIGABRT (code SI_TKILL) at address 0x0000000000001234",
                   {{"code", "SI_TKILL"}, {"name", "SIGABRT"}, {"crash_info_message", "abort() called"}}},
        SignalCase{"blank_message_counts_as_none",
                   "SIGABRT",
                   "SI_TKILL",
                   " \n",
                   "SIGABRT",
                   "SIGABRT (code SI_TKILL) at address 0x0000000000001234",
                   {{"code", "SI_TKILL"}, {"name", "SIGABRT"}}},
        SignalCase{"no_code_gives_no_value",
                   "SIGTRAP",
                   "",
                   std::nullopt,
                   "SIGTRAP",
                   std::nullopt,
                   {{"name", "SIGTRAP"}}},
        // The matcher recurses per character: an overlong message is never matched, and never crashes.
        SignalCase{"overlong_message_is_not_matched",
                   "SIGTRAP",
                   "TRAP_BRKPT",
                   kLongMessage,
                   "SIGTRAP",
                   "SIGTRAP (code TRAP_BRKPT) at address 0x0000000000001234",
                   {{"code", "TRAP_BRKPT"}, {"name", "SIGTRAP"}, {"crash_info_message", kLongMessage}}}),
    quorvelle::test::NamedCase());

struct MachCase {
  std::string name;
  uint64_t type;
  std::vector<uint64_t> codes;
  std::string typeName;
  std::string message;
  Properties meta;
};

class CrashReportMachTable : public testing::TestWithParam<MachCase> {};

// Every report carries a signal section; one with neither name nor code leaves the crash to its Mach
// exception.
TEST_P(CrashReportMachTable, NameMessageAndMeta) {
  const MachCase& c = GetParam();
  ReportShape shape = programReport();
  shape.signalName = "";
  shape.signalCode = "";
  shape.mach = MachShape{.type = c.type, .codes = c.codes};
  const Properties entry = entryOf(process(shape));
  EXPECT_EQ(entry.at("type"), c.typeName);
  EXPECT_EQ(entry.at("value"), c.message);
  EXPECT_EQ(entry.at("mechanism"), (Properties{{"type", "mach_exception"},
                                               {"handled", false},
                                               {"synthetic", false},
                                               {"meta", {{"mach", c.meta}}}}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CrashReportMachTable,
    testing::Values(MachCase{"bad_access_with_subcode",
                             1,
                             {1, 8},
                             "EXC_BAD_ACCESS",
                             "EXC_BAD_ACCESS, Code KERN_INVALID_ADDRESS (1), Subcode 0x0000000000000008",
                             {{"exception", 1}, {"code", 1}, {"subcode", 8}}},
                    MachCase{"unknown_type",
                             99,
                             {5},
                             "EXC_UNKNOWN_99",
                             "EXC_UNKNOWN_99, Code 5",
                             {{"exception", 99}, {"code", 5}}},
                    MachCase{"arm_data_abort_code",
                             1,
                             {261, 0},
                             "EXC_BAD_ACCESS",
                             "EXC_BAD_ACCESS, Code EXC_ARM_PAC_FAIL (261), Subcode 0x0000000000000000",
                             {{"exception", 1}, {"code", 261}, {"subcode", 0}}},
                    MachCase{"arithmetic_zero_code",
                             3,
                             {0},
                             "EXC_ARITHMETIC",
                             "EXC_ARITHMETIC, Code EXC_ARM_FP_UNDEFINED (0)",
                             {{"exception", 3}, {"code", 0}}},
                    MachCase{"code_outside_the_table",
                             6,
                             {7},
                             "EXC_BREAKPOINT",
                             "EXC_BREAKPOINT, Code 7",
                             {{"exception", 6}, {"code", 7}}},
                    MachCase{"no_codes", 10, {}, "EXC_CRASH", "EXC_CRASH", {{"exception", 10}}}),
    quorvelle::test::NamedCase());

TEST(CrashReportProcessor, SignalWinsOverMachAndNeitherGivesNoEntry) {
  ReportShape shape = programReport();
  shape.mach = MachShape{.type = 1, .codes = {1, 8}};
  EXPECT_EQ(entryOf(process(shape)).at("mechanism").at("type"), "signal");

  shape.signalName = "";
  shape.signalCode = "";
  shape.mach.reset();
  shape.threads = {ThreadShape{.number = 0, .crashed = true, .frames = {{.pc = 0x401010}}}};
  const Properties properties = process(shape);
  EXPECT_FALSE(properties.contains("$exception_list"));
  EXPECT_EQ(properties.at("$exception_level"), "fatal");
  EXPECT_EQ(properties.at("$debug_images").size(), 1u);
}

TEST(CrashReportProcessor, WithoutACrashedThreadTheFirstThreadIsUsed) {
  ReportShape shape = programReport();
  shape.threads = {
      ThreadShape{.number = 3, .crashed = false, .frames = {{.pc = 0x401010}}},
      ThreadShape{.number = 4, .crashed = false, .frames = {{.pc = 0x402020}, {.pc = 0x402030}}}};
  const Properties entry = entryOf(process(shape));
  EXPECT_EQ(entry.at("thread_id"), 3);
  ASSERT_EQ(entry.at("stacktrace").at("frames").size(), 1u);
  EXPECT_EQ(entry.at("stacktrace").at("frames")[0].at("instruction_addr"), "0x0000000000401010");

  shape.threads = {ThreadShape{.number = 0, .crashed = true}};  // no frames: no stack trace
  EXPECT_FALSE(entryOf(process(shape)).contains("stacktrace"));
}

TEST(CrashReportProcessor, InAppFollowsTheListsThenSystemPathsThenTheDefault) {
  ReportShape shape;
  shape.images = {ImageShape{.base = 0x1000, .size = 0x100, .name = "/opt/app/libAppKit.so"},
                  ImageShape{.base = 0x2000, .size = 0x100, .name = "/opt/app/libshared.so"},
                  ImageShape{.base = 0x3000, .size = 0x100, .name = kLibc},
                  ImageShape{.base = 0x4000, .size = 0x100, .name = "/opt/app/libother.so"}};
  shape.threads = {ThreadShape{
      .number = 0,
      .crashed = true,
      .frames = {{.pc = 0x1010}, {.pc = 0x2010}, {.pc = 0x3010}, {.pc = 0x4010}, {.pc = 0x9000}}}};
  DiziZozErrorTrackingConfig config;
  config.inAppIncludes = {"libApp"};
  config.inAppExcludes = {"libAppKit", "libshared"};
  const auto frames = entryOf(process(shape, config)).at("stacktrace").at("frames");
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames[4].at("in_app"), true);   // includes win over excludes
  EXPECT_EQ(frames[3].at("in_app"), false);  // excluded
  EXPECT_EQ(frames[2].at("in_app"), false);  // the system's library folder
  EXPECT_EQ(frames[1].at("in_app"), true);   // the default
  // An address in no image: no module, package or image address, and never in-app.
  EXPECT_EQ(
      frames[0],
      (Properties{{"instruction_addr", "0x0000000000009000"}, {"platform", "apple"}, {"in_app", false}}));
}

TEST(CrashReportProcessor, DebugImagesAreTheNamedImagesFramesPointInto) {
  const std::vector<uint8_t> macUuid = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                        0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  std::vector<uint8_t> buildId(20);
  for (size_t i = 0; i < buildId.size(); ++i) buildId[i] = static_cast<uint8_t>(0xa0 + i);
  ReportShape shape;
  shape.images = {ImageShape{.base = 0x1000, .size = 0x100, .name = "/a/first", .uuid = buildId},
                  ImageShape{.base = 0x5000, .size = 0x100, .name = "/a/unreferenced"},
                  ImageShape{.base = 0x1000, .size = 0x100, .name = "/a/same-base", .uuid = macUuid},
                  ImageShape{.base = 0x6000, .size = 0x100, .name = ""}};
  shape.threads = {
      ThreadShape{.number = 0, .crashed = true, .frames = {{.pc = 0x1010}, {.pc = 0x1020}, {.pc = 0x6010}}}};
  const Properties images = process(shape).at("$debug_images");
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0], (Properties{{"type", "elf"},
                                   {"code_file", "/a/first"},
                                   {"image_addr", "0x0000000000001000"},
                                   {"image_size", 0x100},
                                   {"debug_id", "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3"}}));
  EXPECT_EQ(images[1].at("code_file"), "/a/same-base");
  EXPECT_EQ(images[1].at("debug_id"), "01234567-89AB-CDEF-0123-456789ABCDEF");

  // A report of a Mach-O system names its images so.
  shape.operatingSystem = DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X;
  EXPECT_EQ(process(shape).at("$debug_images")[0].at("type"), "macho");

  // No frame points into an image: no debug images at all.
  shape.threads = {ThreadShape{.number = 0, .crashed = true, .frames = {{.pc = 0x9000}}}};
  EXPECT_FALSE(process(shape).contains("$debug_images"));
}

struct ArchCase {
  std::string name;
  std::optional<ProcessorShape> codeType;
  std::optional<std::string> arch;
};

class CrashReportArchTable : public testing::TestWithParam<ArchCase> {};

TEST_P(CrashReportArchTable, ArchOfTheImage) {
  ReportShape shape;
  shape.images = {
      ImageShape{.base = 0x1000, .size = 0x100, .name = "/a/image", .codeType = GetParam().codeType}};
  shape.threads = {ThreadShape{.number = 0, .crashed = true, .frames = {{.pc = 0x1010}}}};
  const Properties image = process(shape).at("$debug_images").at(0);
  EXPECT_EQ(image.contains("arch") ? std::optional(image.at("arch").get<std::string>()) : std::nullopt,
            GetParam().arch);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CrashReportArchTable,
    testing::Values(ArchCase{"armv7", ProcessorShape{.type = 12, .subtype = 9}, "armv7"},
                    ArchCase{"armv7s", ProcessorShape{.type = 12, .subtype = 11}, "armv7s"},
                    ArchCase{"arm", ProcessorShape{.type = 12, .subtype = 6}, "arm"},
                    ArchCase{"x86_64", ProcessorShape{.type = 0x1000007, .subtype = 3}, "x86_64"},
                    ArchCase{"arm64", ProcessorShape{.type = 0x100000C, .subtype = 2}, "arm64"},
                    ArchCase{"other_type", ProcessorShape{.type = 7, .subtype = 3}, std::nullopt},
                    ArchCase{"no_processor", std::nullopt, std::nullopt}),
    quorvelle::test::NamedCase());

}  // namespace
