#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"
#include "tests/DZCrashReporter/CrashReportFixture.h"

using namespace dzcrash;
using namespace dzcrash::test;

namespace {

DZCrashReporterResult<DZCrashReport> decode(const std::vector<uint8_t>& bytes) {
  return DZCrashReport::fromData(bytes);
}

DZCrashReport decodeOk(const ReportShape& shape) {
  auto result = decode(packReportFile(shape));
  if (!result.ok()) ADD_FAILURE() << result.error().description();
  return std::move(result).value();
}

std::vector<uint8_t> withHeader(std::string header, const std::vector<uint8_t>& message) {
  std::vector<uint8_t> out(header.begin(), header.end());
  out.insert(out.end(), message.begin(), message.end());
  return out;
}

// One length-delimited field of a hand-assembled message.
std::vector<uint8_t> field(uint8_t number, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(number << 3 | 2)};
  for (size_t n = body.size(); true; n >>= 7) {
    out.push_back(static_cast<uint8_t>(n < 0x80 ? n : (n & 0x7F) | 0x80));
    if (n < 0x80) break;
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

template <class Message>
std::vector<uint8_t> packed(const Message& message) {
  std::vector<uint8_t> out(protobuf_c_message_get_packed_size(&message.base));
  protobuf_c_message_pack(&message.base, out.data());
  return out;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<uint64_t> countingCodes(size_t n) {
  std::vector<uint64_t> codes(n);
  for (size_t i = 0; i < n; ++i) codes[i] = i;
  return codes;
}

}  // namespace

TEST(CrashReportReader, RejectionsCarryTheirExactTexts) {
  const std::vector<uint8_t> body = packReportMessage(ReportShape{});
  // protobuf-c refuses a report without its required signal; assembled by hand because its packer
  // writes every required field.
  Dzcrash__CrashReport__SystemInfo system = DZCRASH__CRASH_REPORT__SYSTEM_INFO__INIT;
  system.os_version = const_cast<char*>("6.1");
  system.timestamp = 1;
  Dzcrash__CrashReport__ApplicationInfo app = DZCRASH__CRASH_REPORT__APPLICATION_INFO__INIT;
  app.identifier = const_cast<char*>("id");
  app.version = const_cast<char*>("1");
  const std::vector<uint8_t> noSignal = concat({field(1, packed(system)), field(2, packed(app))});

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string text;
  };
  const Case cases[] = {
      {"empty", {}, "Could not decode truncated crash log"},
      {"header only", withHeader(std::string("dzcrash\x01", 8), {}), "Could not decode truncated crash log"},
      {"bad magic", withHeader(std::string("dzcrasH\x01", 8), body),
       "Could not decode invalid crash log header"},
      {"version 2", withHeader(std::string("dzcrash\x02", 8), body),
       "Could not decode unsupported crash report version: 2"},
      {"version 255", withHeader(std::string("dzcrash\xff", 8), body),
       "Could not decode unsupported crash report version: 255"},
      {"missing required field", withHeader(std::string("dzcrash\x01", 8), noSignal),
       "Could not decode crash report with size of " + std::to_string(noSignal.size()) + " bytes."},
      {"malformed message", withHeader(std::string("dzcrash\x01", 8), {0xff}),
       "Could not decode crash report with size of 1 bytes."},
  };
  for (const Case& c : cases) {
    const auto result = decode(c.bytes);
    ASSERT_FALSE(result.ok()) << c.name;
    EXPECT_EQ(result.error().domain(), "DZCrashReporterErrorDomain");
    EXPECT_EQ(result.error().code(), DZCrashReporterErrorCode::invalidCrashReport) << c.name;
    EXPECT_EQ(result.error().description(), c.text) << c.name;
    EXPECT_FALSE(result.error().posixErrno()) << c.name;
  }
  const std::vector<uint8_t> file = packReportFile(ReportShape{});
  const auto truncated = decode(std::vector<uint8_t>(file.begin(), file.end() - 3));
  ASSERT_FALSE(truncated.ok());
  EXPECT_EQ(truncated.error().description(),
            "Could not decode crash report with size of " + std::to_string(file.size() - 11) + " bytes.");
}

TEST(CrashReportReader, BuildRejectsBrokenSectionsInItsOrder) {
  struct Case {
    const char* name;
    ReportShape shape;
    std::string text;
  };
  ReportShape shortUuid;
  shortUuid.reportInfo = ReportInfoShape{.uuid = std::vector<uint8_t>(15, 7)};
  ReportShape longUuid;
  longUuid.reportInfo = ReportInfoShape{.uuid = std::vector<uint8_t>(17, 7)};
  ReportShape unknownArchitecture;
  unknownArchitecture.architecture = DZCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
  ReportShape noThreads;
  noThreads.threads.clear();
  ReportShape noImages;
  noImages.images.clear();
  ReportShape tooManyCodes;
  tooManyCodes.mach = MachShape{.type = 1, .codes = countingCodes(256)};
  ReportShape uuidBeforeThreads = noThreads;
  uuidBeforeThreads.reportInfo = shortUuid.reportInfo;
  ReportShape threadsBeforeImages = noThreads;
  threadsBeforeImages.images.clear();

  const Case cases[] = {
      {"15-byte report uuid", shortUuid, "Report UUID value is not a standard 16 bytes"},
      {"17-byte report uuid", longUuid, "Report UUID value is not a standard 16 bytes"},
      {"architecture 6 without machine", unknownArchitecture, "Crash report has an unknown architecture"},
      {"no threads", noThreads, "Crash report is missing thread state information"},
      {"no images", noImages, "Crash report is missing binary image information"},
      {"256 mach codes", tooManyCodes, "Crash report includes too many Mach Exception codes"},
      {"uuid before threads", uuidBeforeThreads, "Report UUID value is not a standard 16 bytes"},
      {"threads before images", threadsBeforeImages, "Crash report is missing thread state information"},
  };
  for (const Case& c : cases) {
    const auto result = decode(packReportFile(c.shape));
    ASSERT_FALSE(result.ok()) << c.name;
    EXPECT_EQ(result.error().code(), DZCrashReporterErrorCode::invalidCrashReport) << c.name;
    EXPECT_EQ(result.error().description(), c.text) << c.name;
  }
}

TEST(CrashReportReader, EveryFieldReachesTheModel) {
  ReportShape shape;
  shape.operatingSystem = DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X;
  shape.osVersion = "14.2.1";
  shape.osBuild = "23C71";
  shape.timestamp = 1700000000;
  shape.appMarketingVersion = "1.4";
  shape.signalAddress = 0xdead;
  shape.crashInfoMessage = "assertion failed";
  shape.mach = MachShape{.type = 1, .codes = {1, 0x10}};
  shape.machine = MachineShape{.model = "MacBookPro18,3",
                               .processor = {.type = 0x1000007, .subtype = 8},
                               .processorCount = 8,
                               .logicalProcessorCount = 16};
  shape.process = ProcessShape{.name = "quorvelle",
                               .pid = 4242,
                               .path = "/usr/bin/quorvelle",
                               .parentName = "systemd",
                               .parentPid = 1,
                               .native = false,
                               .startTime = 1699999000};
  shape.reportInfo =
      ReportInfoShape{.userRequested = true,
                      .uuid = std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
  shape.customData = std::vector<uint8_t>{'{', '}', 0};
  shape.threads = {
      ThreadShape{.number = 0, .frames = {{.pc = 0x401000}}},
      ThreadShape{.number = 1,
                  .crashed = true,
                  .frames = {{.pc = 0x400010,
                              .symbol = SymbolShape{.name = "main", .start = 0x400000, .end = 0x400100}},
                             {.pc = 0x400020, .symbol = SymbolShape{.name = "start", .start = 0x400018}}},
                  .registers = {{"rip", 0x400010}, {"rsp", 0x7ffc0000}}},
  };
  shape.images = {
      ImageShape{.base = 0x400000,
                 .size = 0x2000,
                 .name = "/usr/bin/quorvelle",
                 .uuid = std::vector<uint8_t>(16, 0xAB),
                 .codeType = ProcessorShape{.type = 0x1000007, .subtype = 3}},
      ImageShape{.base = 0x7f0000000000, .size = 0x1000, .name = "/lib/libc.so.6"},
  };
  shape.exception =
      ExceptionShape{.name = "std::runtime_error", .reason = "boom", .frames = {{.pc = 0x400010}}};
  const DZCrashReport report = decodeOk(shape);

  const auto& system = report.systemInfo();
  EXPECT_EQ(system.operatingSystem(), 0);
  EXPECT_EQ(system.operatingSystemVersion(), "14.2.1");
  EXPECT_EQ(system.operatingSystemBuild(), "23C71");
  EXPECT_EQ(system.architecture(), DZCRASH__ARCHITECTURE__X86_64);
  EXPECT_EQ(system.timestamp(), std::chrono::sys_seconds(std::chrono::seconds(1700000000)));
  // With a machine section the host processor is the machine's, not one made up from the architecture.
  EXPECT_EQ(system.processorInfo(), DZCrashReportProcessorInfo(1, 0x1000007, 8));

  ASSERT_TRUE(report.hasMachineInfo());
  EXPECT_EQ(report.machineInfo()->modelName(), "MacBookPro18,3");
  EXPECT_EQ(report.machineInfo()->processorCount(), 8u);
  EXPECT_EQ(report.machineInfo()->logicalProcessorCount(), 16u);

  EXPECT_EQ(report.applicationInfo().applicationIdentifier(), "com.quorvelle.app");
  EXPECT_EQ(report.applicationInfo().applicationVersion(), "42");
  EXPECT_EQ(report.applicationInfo().applicationMarketingVersion(), "1.4");

  ASSERT_TRUE(report.hasProcessInfo());
  const auto& process = *report.processInfo();
  EXPECT_EQ(process.processName(), "quorvelle");
  EXPECT_EQ(process.processID(), 4242u);
  EXPECT_EQ(process.processPath(), "/usr/bin/quorvelle");
  EXPECT_EQ(process.parentProcessName(), "systemd");
  EXPECT_EQ(process.parentProcessID(), 1u);
  EXPECT_FALSE(process.native());
  EXPECT_EQ(process.processStartTime(), std::chrono::sys_seconds(std::chrono::seconds(1699999000)));

  EXPECT_EQ(report.signalInfo().name(), "SIGSEGV");
  EXPECT_EQ(report.signalInfo().code(), "SEGV_MAPERR");
  EXPECT_EQ(report.signalInfo().address(), 0xdeadu);
  EXPECT_EQ(report.signalInfo().crashInfoMessage(), "assertion failed");
  ASSERT_TRUE(report.machExceptionInfo());
  EXPECT_EQ(report.machExceptionInfo()->type(), 1u);
  EXPECT_EQ(report.machExceptionInfo()->codes(), (std::vector<uint64_t>{1, 0x10}));

  ASSERT_EQ(report.threads().size(), 2u);
  EXPECT_FALSE(report.threads()[0].crashed());
  EXPECT_TRUE(report.threads()[0].registers().empty());
  const auto& crashed = report.threads()[1];
  EXPECT_EQ(crashed.threadNumber(), 1);
  EXPECT_TRUE(crashed.crashed());
  ASSERT_EQ(crashed.stackFrames().size(), 2u);
  EXPECT_EQ(crashed.stackFrames()[0].instructionPointer(), 0x400010u);
  ASSERT_TRUE(crashed.stackFrames()[0].symbolInfo());
  EXPECT_EQ(crashed.stackFrames()[0].symbolInfo()->symbolName(), "main");
  EXPECT_EQ(crashed.stackFrames()[0].symbolInfo()->startAddress(), 0x400000u);
  EXPECT_EQ(crashed.stackFrames()[0].symbolInfo()->endAddress(), 0x400100u);
  EXPECT_EQ(crashed.stackFrames()[1].symbolInfo()->endAddress(), 0u);
  ASSERT_EQ(crashed.registers().size(), 2u);
  EXPECT_EQ(crashed.registers()[1].registerName(), "rsp");
  EXPECT_EQ(crashed.registers()[1].registerValue(), 0x7ffc0000u);
  EXPECT_FALSE(report.threads()[0].stackFrames()[0].symbolInfo());

  ASSERT_EQ(report.images().size(), 2u);
  const auto& main = report.images()[0];
  EXPECT_EQ(main.imageBaseAddress(), 0x400000u);
  EXPECT_EQ(main.imageSize(), 0x2000u);
  EXPECT_EQ(main.imageName(), "/usr/bin/quorvelle");
  EXPECT_EQ(main.codeType(), DZCrashReportProcessorInfo(1, 0x1000007, 3));
  EXPECT_FALSE(report.images()[1].codeType());
  EXPECT_FALSE(report.images()[1].hasImageUUID());

  ASSERT_TRUE(report.hasExceptionInfo());
  EXPECT_EQ(report.exceptionInfo()->exceptionName(), "std::runtime_error");
  EXPECT_EQ(report.exceptionInfo()->exceptionReason(), "boom");
  ASSERT_TRUE(report.exceptionInfo()->stackFrames());
  EXPECT_EQ(report.exceptionInfo()->stackFrames()->size(), 1u);

  EXPECT_EQ(report.customData(), (std::vector<uint8_t>{'{', '}', 0}));
  ASSERT_TRUE(report.uuidRef());
  EXPECT_EQ((*report.uuidRef())[0], 0u);
  EXPECT_EQ((*report.uuidRef())[15], 15u);
}

TEST(CrashReportReader, OptionalSectionsAndEmptyValuesReadAsAbsent) {
  ReportShape shape;
  shape.operatingSystem.reset();  // the schema's default, OS_UNKNOWN
  shape.timestamp = 0;
  shape.exception = ExceptionShape{.name = "E", .reason = ""};
  shape.reportInfo = ReportInfoShape{.userRequested = false};
  shape.images[0].uuid = std::vector<uint8_t>{};
  const DZCrashReport report = decodeOk(shape);
  EXPECT_EQ(report.systemInfo().operatingSystem(),
            DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN);
  EXPECT_FALSE(report.systemInfo().timestamp());
  EXPECT_FALSE(report.systemInfo().operatingSystemBuild());
  EXPECT_FALSE(report.hasMachineInfo());
  EXPECT_FALSE(report.hasProcessInfo());
  EXPECT_FALSE(report.machExceptionInfo());
  EXPECT_FALSE(report.customData());
  EXPECT_FALSE(report.uuidRef());
  EXPECT_FALSE(report.applicationInfo().applicationMarketingVersion());
  EXPECT_FALSE(report.signalInfo().crashInfoMessage());
  // An exception without frames has none; a thread without frames has an empty list.
  ASSERT_TRUE(report.hasExceptionInfo());
  EXPECT_EQ(report.exceptionInfo()->exceptionReason(), "");
  EXPECT_FALSE(report.exceptionInfo()->stackFrames());
  ASSERT_EQ(report.threads().size(), 1u);
  EXPECT_TRUE(report.threads()[0].stackFrames().empty());
  EXPECT_FALSE(report.images()[0].hasImageUUID());
  EXPECT_FALSE(report.images()[0].imageUUID());

  ReportShape noInfo;
  EXPECT_FALSE(decodeOk(noInfo).uuidRef());
}

TEST(CrashReportReader, ProcessorIsMadeUpFromTheArchitectureWithoutAMachineSection) {
  struct Case {
    int architecture;
    uint64_t type;
    uint64_t subtype;
  };
  const Case cases[] = {
      {DZCRASH__ARCHITECTURE__X86_32, 7, 3},        {DZCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
      {DZCRASH__ARCHITECTURE__ARMV6, 12, 6},        {DZCRASH__ARCHITECTURE__PPC, 18, 0},
      {DZCRASH__ARCHITECTURE__PPC64, 0x1000012, 0}, {DZCRASH__ARCHITECTURE__ARMV7, 12, 9},
  };
  for (const Case& c : cases) {
    ReportShape shape;
    shape.architecture = c.architecture;
    EXPECT_EQ(decodeOk(shape).systemInfo().processorInfo(), DZCrashReportProcessorInfo(1, c.type, c.subtype))
        << c.architecture;
  }
  // A machine section makes any architecture value acceptable: its processor is the one reported.
  ReportShape unknownWithMachine;
  unknownWithMachine.architecture = DZCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
  unknownWithMachine.machine = MachineShape{.processor = {.encoding = 0, .type = 99, .subtype = 1}};
  EXPECT_EQ(decodeOk(unknownWithMachine).systemInfo().processorInfo(), DZCrashReportProcessorInfo(0, 99, 1));
}

TEST(CrashReportReader, MachCodesUpToTheLimitAndInEitherEncoding) {
  ReportShape shape;
  shape.mach = MachShape{.type = 1, .codes = countingCodes(255)};
  const DZCrashReport report = decodeOk(shape);
  ASSERT_TRUE(report.machExceptionInfo());
  EXPECT_EQ(report.machExceptionInfo()->codes(), countingCodes(255));

  // The writer stores each code as its own entry; a packed list (one length-delimited field 2) is read
  // the same way.
  Dzcrash__CrashReport__Signal signal = DZCRASH__CRASH_REPORT__SIGNAL__INIT;
  signal.name = const_cast<char*>("SIGBUS");
  signal.code = const_cast<char*>("BUS_ADRERR");
  const std::vector<uint8_t> mach = concat({{0x08, 0x01}, field(2, {0x01, 0x90, 0x03})});
  const std::vector<uint8_t> signalBytes = concat({packed(signal), field(4, mach)});
  ReportShape rest;
  std::vector<uint8_t> message = packReportMessage(rest);
  // The rest of the report with its own signal; a later signal field replaces an earlier one.
  message = concat({message, field(6, signalBytes)});
  const auto decoded = decode(withHeader(std::string("dzcrash\x01", 8), message));
  ASSERT_TRUE(decoded.ok()) << decoded.error().description();
  ASSERT_TRUE(decoded.value().machExceptionInfo());
  EXPECT_EQ(decoded.value().signalInfo().name(), "SIGBUS");
  EXPECT_EQ(decoded.value().machExceptionInfo()->codes(), (std::vector<uint64_t>{1, 400}));
}

TEST(CrashReportReader, ImageIdentifiersAreLowerCaseHexOfAnyLength) {
  std::vector<uint8_t> macho(16, 0xCD);
  macho[0] = 0x00;
  macho[1] = 0xAB;
  std::vector<uint8_t> buildId(20);
  for (size_t i = 0; i < buildId.size(); ++i) buildId[i] = static_cast<uint8_t>(0xF0 + i % 16);
  ReportShape shape;
  shape.images = {ImageShape{.base = 0x1000, .size = 0x10, .name = "/a", .uuid = macho},
                  ImageShape{.base = 0x2000, .size = 0x10, .name = "/b", .uuid = buildId}};
  const DZCrashReport report = decodeOk(shape);
  EXPECT_TRUE(report.images()[0].hasImageUUID());
  EXPECT_EQ(report.images()[0].imageUUID(), "00abcdcdcdcdcdcdcdcdcdcdcdcdcdcd");
  EXPECT_EQ(report.images()[1].imageUUID(), "f0f1f2f3f4f5f6f7f8f9fafbfcfdfefff0f1f2f3");
}

TEST(CrashReportReader, PointerAuthenticationBitsGoOnlyOnArm64e) {
  constexpr uint64_t kSigned = 0x8e23000123456789;
  constexpr uint64_t kLow36 = 0x0000000123456789;
  struct Case {
    const char* name;
    std::optional<MachineShape> machine;
    uint64_t expected;
  };
  const Case cases[] = {
      {"arm64e machine", MachineShape{.processor = {.type = 0x100000c, .subtype = 2}}, kLow36},
      {"arm64 machine", MachineShape{.processor = {.type = 0x100000c, .subtype = 0}}, kSigned},
      {"x86-64 machine", MachineShape{.processor = {.type = 0x1000007, .subtype = 3}}, kSigned},
      {"no machine", std::nullopt, kSigned},
  };
  for (const Case& c : cases) {
    ReportShape shape;
    shape.machine = c.machine;
    shape.threads[0].frames = {{.pc = kSigned}};
    shape.exception = ExceptionShape{.name = "E", .reason = "R", .frames = {{.pc = kSigned}}};
    const DZCrashReport report = decodeOk(shape);
    EXPECT_EQ(report.threads()[0].stackFrames()[0].instructionPointer(), c.expected) << c.name;
    EXPECT_EQ((*report.exceptionInfo()->stackFrames())[0].instructionPointer(), c.expected) << c.name;
  }
}

TEST(CrashReportReader, ImageForAddressTakesTheFirstImageThatHoldsIt) {
  ReportShape shape;
  shape.images = {
      ImageShape{.base = 0x1000, .size = 0x1000, .name = "/first"},
      ImageShape{.base = 0x1800, .size = 0x1000, .name = "/overlapping"},
      ImageShape{.base = 0x3000, .size = 0, .name = "/empty"},
      ImageShape{.base = 0xfffffffffffff000, .size = 0x1000, .name = "/top"},
  };
  const DZCrashReport report = decodeOk(shape);
  struct Case {
    uint64_t address;
    const char* image;
  };
  const Case cases[] = {
      {0xfff, nullptr},         {0x1000, "/first"},           {0x1fff, "/first"},
      {0x2000, "/overlapping"}, {0x27ff, "/overlapping"},     {0x2800, nullptr},
      {0x3000, nullptr},        {0xfffffffffffff000, "/top"}, {0xffffffffffffffff, "/top"},
  };
  for (const Case& c : cases) {
    const DZCrashReportBinaryImageInfo* image = report.imageForAddress(c.address);
    if (c.image == nullptr) {
      EXPECT_EQ(image, nullptr) << std::hex << c.address;
    } else {
      ASSERT_NE(image, nullptr) << std::hex << c.address;
      EXPECT_EQ(image->imageName(), c.image) << std::hex << c.address;
    }
  }
}

TEST(CrashReportReader, EnumerationNumbersTheSchemaDoesNotNameSurvive) {
  // protobuf-c keeps any number an enumeration field holds; -1 is ten varint bytes.
  const std::vector<uint8_t> minusOne = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01};
  const std::vector<uint8_t> system =
      concat({{0x08}, minusOne, {0x12, 0x03, '6', '.', '1', 0x18}, minusOne, {0x20, 0x01}});
  const std::vector<uint8_t> processor = concat({{0x08}, minusOne, {0x10, 0x07, 0x18, 0x03}});
  const std::vector<uint8_t> machine = concat({field(2, processor), {0x18, 0x01, 0x20, 0x01}});
  // A later occurrence of a section takes the place of the packed one.
  const std::vector<uint8_t> base = packReportMessage(ReportShape{});

  const auto noMachine = decode(withHeader(std::string("dzcrash\x01", 8), concat({base, field(1, system)})));
  ASSERT_FALSE(noMachine.ok());
  EXPECT_EQ(noMachine.error().description(), "Crash report has an unknown architecture");

  const auto decoded =
      decode(withHeader(std::string("dzcrash\x01", 8), concat({base, field(1, system), field(8, machine)})));
  ASSERT_TRUE(decoded.ok()) << decoded.error().description();
  const DZCrashReport& report = decoded.value();
  EXPECT_EQ(report.systemInfo().operatingSystem(), -1);
  EXPECT_EQ(report.systemInfo().architecture(), -1);
  EXPECT_EQ(report.systemInfo().processorInfo(), DZCrashReportProcessorInfo(-1, 7, 3));
  const std::string text = DZCrashReportTextFormatter::stringValueForCrashReport(report, {});
  EXPECT_NE(text.find("OS Version:      Unknown (-1) 6.1 ("), std::string::npos) << text;
  EXPECT_NE(text.find("Code Type:       Unknown\n"), std::string::npos) << text;
}
