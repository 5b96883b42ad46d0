#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DZCrashReporter/DZCrashReporterLog.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"
#include "tests/DZCrashReporter/CapturedCrashLog.h"
#include "tests/DZCrashReporter/CrashReportFixture.h"

using namespace dzcrash;
using namespace dzcrash::test;

namespace {

constexpr int kOsUnknown = DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
constexpr ProcessorShape kX86_64{.type = 0x1000007, .subtype = 3};

DZCrashReport decodeOk(const ReportShape& shape) {
  auto result = DZCrashReport::fromData(packReportFile(shape));
  if (!result.ok()) ADD_FAILURE() << result.error().description();
  return std::move(result).value();
}

std::string format(const ReportShape& shape) {
  return DZCrashReportTextFormatter::stringValueForCrashReport(decodeOk(shape),
                                                               DZCrashReportTextFormat::classic);
}

// The line of `text` that starts with `prefix`, or "" (which no expectation below uses).
std::string lineStartingWith(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return line;
  return "";
}

// The lines after "Binary Images:".
std::vector<std::string> imageLines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (inside) lines.push_back(line);
    if (line == "Binary Images:") inside = true;
  }
  return lines;
}

std::vector<uint8_t> buildId(uint8_t first) {
  std::vector<uint8_t> id(20);
  for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<uint8_t>(first + i);
  return id;
}

// A crash of this system: an uncaught C++ exception ends in abort on thread 0 of two.
ReportShape linuxReport() {
  ReportShape shape;
  shape.operatingSystem = kOsUnknown;
  shape.osVersion = "6.1.0";
  shape.osBuild = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1";
  shape.timestamp = 1700000000;
  shape.appIdentifier = "com.quorvelle.app";
  shape.appVersion = "42";
  shape.appMarketingVersion = "1.4";
  shape.signalName = "SIGABRT";
  shape.signalCode = "#0";
  shape.signalAddress = 0;
  shape.machine = MachineShape{.model = "Standard PC (Q35 + ICH9, 2009)", .processor = kX86_64};
  shape.process = ProcessShape{.name = "quorvelle",
                               .pid = 4242,
                               .path = "/usr/bin/quorvelle",
                               .parentName = "bash",
                               .parentPid = 4000,
                               .native = true,
                               .startTime = 1699999900};
  shape.reportInfo =
      ReportInfoShape{.uuid = std::vector<uint8_t>{0x6b, 0x2c, 0x8a, 0x10, 0xe4, 0x51, 0x4f, 0x0c, 0x9a, 0x3e,
                                                   0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
  shape.exception = ExceptionShape{
      .name = "std::runtime_error",
      .reason = "lookup failed",
      .frames = {
          {.pc = 0x55d4c0a1b2c4,
           .symbol = SymbolShape{.name = "_ZN9quorvelle12LookupClient5fetchEv", .start = 0x55d4c0a1b200}},
          {.pc = 0x55d4c0a10f10, .symbol = SymbolShape{.name = "main", .start = 0x55d4c0a10e80}}}};
  shape.threads = {
      ThreadShape{
          .number = 0,
          .crashed = true,
          .frames = {{.pc = 0x7f3a1c0a9e2c,
                      .symbol =
                          SymbolShape{.name = "__pthread_kill_implementation", .start = 0x7f3a1c0a9d30}},
                     {.pc = 0x7f3a1c05b472, .symbol = SymbolShape{.name = "raise", .start = 0x7f3a1c05b450}},
                     {.pc = 0x7f3a1c5a54e8},
                     {.pc = 0x55d4c0a10f10, .symbol = SymbolShape{.name = "main", .start = 0x55d4c0a10e80}},
                     {.pc = 0x1234}},
          .registers = {{"rax", 0},
                        {"rbx", 0x7f3a1b5ff700},
                        {"rcx", 0x7f3a1c0a9e2c},
                        {"rdx", 6},
                        {"rdi", 0x1092},
                        {"rsi", 0x1092},
                        {"rbp", 0x7ffd5c2e1a40},
                        {"rsp", 0x7ffd5c2e1900},
                        {"r8", 0x7ffd5c2e19d0},
                        {"r9", 0},
                        {"rip", 0x7f3a1c0a9e2c},
                        {"rflags", 0x246},
                        {"cs", 0x33}}},
      ThreadShape{.number = 1,
                  .frames = {{.pc = 0x7f3a1c0f5d7f,
                              .symbol = SymbolShape{.name = "__GI___poll", .start = 0x7f3a1c0f5cf0}},
                             {.pc = 0x55d4c0a20400}}},
  };
  shape.images = {
      ImageShape{.base = 0x55d4c0a00000,
                 .size = 0x3a000,
                 .name = "/usr/bin/quorvelle",
                 .uuid = buildId(0x10),
                 .codeType = kX86_64},
      ImageShape{.base = 0x7f3a1c5a0000,
                 .size = 0x1b6000,
                 .name = "/usr/lib/x86_64-linux-gnu/libstdc++.so.6",
                 .uuid = buildId(0x40),
                 .codeType = kX86_64},
      ImageShape{.base = 0x7f3a1c028000,
                 .size = 0x155000,
                 .name = "/usr/lib/x86_64-linux-gnu/libc.so.6",
                 .uuid = buildId(0x80),
                 .codeType = kX86_64},
      ImageShape{.base = 0x7ffd5c3f1000, .size = 0x2000, .name = "linux-vdso.so.1"},
  };
  return shape;
}

}  // namespace

TEST(CrashReportTextFormatter, SixtyFourBitReportMatchesItsGoldenText) {
  CapturedCrashLog log;
  const std::string text = format(linuxReport());
  const std::string goldenPath = QUORVELLE_SOURCE_DIR "/tests/fixtures/crash-report/report_x86_64.txt";
  std::ifstream golden(goldenPath, std::ios::binary);
  ASSERT_TRUE(golden) << goldenPath;
  const std::string expected((std::istreambuf_iterator<char>(golden)), {});
  if (text != expected) {
    // The text to review (and commit, when the change is meant) lands next to the build.
    const std::string actualPath = QUORVELLE_BINARY_DIR "/report_x86_64.actual.txt";
    std::ofstream(actualPath, std::ios::binary) << text;
    FAIL() << "differs from " << goldenPath << "; this run's text is in " << actualPath;
  }
  // This system's symbols are ELF names, kept whole without a word; the frame at 0x1234 lies in no image.
  EXPECT_EQ(log.lines, (std::vector<std::string>{"[DZCrashReporter] Cannot find image for 0x1234"}));
}

TEST(CrashReportTextFormatter, ThirtyTwoBitReportsUseNarrowColumns) {
  ReportShape shape;
  shape.machine = MachineShape{.processor = kX86_64};  // a 32-bit process on a 64-bit host
  shape.threads = {
      ThreadShape{.number = 0,
                  .crashed = true,
                  .frames = {{.pc = 0x8048010, .symbol = SymbolShape{.name = "f", .start = 0x8048000}}},
                  .registers = {{"eax", 1}, {"ebx", 2}, {"ecx", 3}, {"edx", 4}, {"esi", 0xffffffff}}}};
  shape.images = {ImageShape{.base = 0x8048000,
                             .size = 0x1000,
                             .name = "/opt/app32",
                             .codeType = ProcessorShape{.type = 7, .subtype = 3}}};
  const std::string text = format(shape);
  EXPECT_EQ(lineStartingWith(text, "Code Type:"), "Code Type:       X86");
  EXPECT_EQ(lineStartingWith(text, "0   "), "0   app32                               0x08048010 f + 16");
  EXPECT_NE(text.find("Thread 0 crashed with X86 Thread State:\n"
                      "   eax: 0x00000001    ebx: 0x00000002    ecx: 0x00000003    edx: 0x00000004 \n"
                      "   esi: 0xffffffff \n\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(imageLines(text),
            (std::vector<std::string>{" 0x8048000 -  0x8048fff  app32 i386  <?\?\?> /opt/app32"}));

  // 32-bit ARM names r12 by its role.
  shape.images[0].codeType = ProcessorShape{.type = 12, .subtype = 9};
  shape.threads[0].registers = {{"r11", 1}, {"r12", 2}};
  const std::string arm = format(shape);
  EXPECT_NE(arm.find("Thread 0 crashed with ARM Thread State:\n"
                     "   r11: 0x00000001     ip: 0x00000002 \n\n"),
            std::string::npos)
      << arm;
}

TEST(CrashReportTextFormatter, AbsentSectionsPrintQuestionMarks) {
  ReportShape shape;
  shape.osBuild.reset();
  shape.timestamp = 0;
  shape.threads[0].crashed = false;
  const std::string text = format(shape);
  EXPECT_EQ(text.substr(0, text.find("Date/Time:")),
            "Incident Identifier: ???\n"
            "Hardware Model:      ???\n"
            "Process:         ??? [???]\n"
            "Path:            ???\n"
            "Identifier:      com.quorvelle.app\n"
            "Version:         42\n"
            "Code Type:       X86-64\n"
            "Parent Process:  ??? [???]\n"
            "\n");
  EXPECT_EQ(lineStartingWith(text, "Date/Time:"), "Date/Time:       ???");
  EXPECT_EQ(lineStartingWith(text, "OS Version:"), "OS Version:      Unknown (3) 6.1.0 (?\?\?)");
  // No thread crashed: neither the crashed-thread line nor a register block.
  EXPECT_EQ(lineStartingWith(text, "Crashed Thread:"), "");
  EXPECT_EQ(text.find("Thread State"), std::string::npos);
  EXPECT_NE(text.find("Exception Codes: SEGV_MAPERR at 0x0\n\nThread 0:\n\n"), std::string::npos) << text;

  // A process section with its optional names absent.
  shape.process = ProcessShape{.pid = 7, .parentPid = 1};
  const std::string partial = format(shape);
  EXPECT_EQ(lineStartingWith(partial, "Process:"), "Process:         ??? [7]");
  EXPECT_EQ(lineStartingWith(partial, "Parent Process:"), "Parent Process:  ??? [1]");
}

TEST(CrashReportTextFormatter, BinaryImagesAreSortedAndListedOncePerBase) {
  ReportShape shape;
  shape.process = ProcessShape{.path = "/usr/bin/quorvelle"};
  shape.images = {
      ImageShape{.base = 0x7f0000002000, .size = 0x1000, .name = "/lib/libb.so", .codeType = kX86_64},
      ImageShape{.base = 0x400000, .size = 0x2000, .name = "/usr/bin/quorvelle", .codeType = kX86_64},
      ImageShape{.base = 0x7f0000001000, .size = 0, .name = "/lib/empty.so", .codeType = kX86_64},
      ImageShape{.base = 0x7f0000002000, .size = 0x800, .name = "/lib/libb-again.so", .codeType = kX86_64},
  };
  EXPECT_EQ(imageLines(format(shape)),
            (std::vector<std::string>{
                "          0x400000 -           0x401fff +quorvelle x86_64  <?\?\?> /usr/bin/quorvelle",
                "    0x7f0000001000 -     0x7f0000001000  empty.so x86_64  <?\?\?> /lib/empty.so",
                "    0x7f0000002000 -     0x7f0000002fff  libb.so x86_64  <?\?\?> /lib/libb.so",
            }));
}

TEST(CrashReportTextFormatter, CodeTypeComesFromTheFirstKnownImageElseTheHost) {
  struct Case {
    const char* name;
    std::vector<std::optional<ProcessorShape>> images;
    std::optional<MachineShape> machine;
    int architecture;
    const char* codeType;
    const char* frameAddress;
  };
  const Case cases[] = {
      {"first known image",
       {std::nullopt, ProcessorShape{.type = 12, .subtype = 9}, kX86_64},
       std::nullopt,
       1,
       "ARM",
       "0x00001000"},
      {"mach encoding needed",
       {ProcessorShape{.encoding = 0, .type = 7}},
       std::nullopt,
       1,
       "X86-64",
       "0x0000000000001000"},
      {"host x86", {std::nullopt}, std::nullopt, DZCRASH__ARCHITECTURE__X86_32, "X86", "0x00001000"},
      {"host ppc64 is unnamed",
       {std::nullopt},
       std::nullopt,
       DZCRASH__ARCHITECTURE__PPC64,
       "Unknown (16777234)",
       "0x0000000000001000"},
      {"host arm64",
       {std::nullopt},
       MachineShape{.processor = {.type = 0x100000c, .subtype = 2}},
       6,
       "ARM-64",
       "0x0000000000001000"},
      {"host not mach",
       {std::nullopt},
       MachineShape{.processor = {.encoding = 0, .type = 7}},
       6,
       "Unknown",
       "0x0000000000001000"},
  };
  for (const Case& c : cases) {
    ReportShape shape;
    shape.architecture = c.architecture;
    shape.machine = c.machine;
    shape.images.clear();
    uint64_t base = 0x10000;
    for (const auto& codeType : c.images)
      shape.images.push_back(
          ImageShape{.base = base += 0x10000, .size = 0x100, .name = "/i", .codeType = codeType});
    shape.threads[0].frames = {{.pc = 0x1000}};
    const std::string text = format(shape);
    EXPECT_EQ(lineStartingWith(text, "Code Type:"), std::string("Code Type:       ") + c.codeType) << c.name;
    EXPECT_NE(text.find(std::string(" ") + c.frameAddress + " 0x0 + 0\n"), std::string::npos)
        << c.name << text;
  }
}

TEST(CrashReportTextFormatter, ImageArchitectureNames) {
  struct Case {
    std::optional<ProcessorShape> codeType;
    const char* name;
  };
  const Case cases[] = {
      {ProcessorShape{.type = 7, .subtype = 3}, "i386"},
      {ProcessorShape{.type = 0x1000007, .subtype = 3}, "x86_64"},
      {ProcessorShape{.type = 18, .subtype = 0}, "powerpc"},
      {ProcessorShape{.type = 12, .subtype = 6}, "armv6"},
      {ProcessorShape{.type = 12, .subtype = 9}, "armv7"},
      {ProcessorShape{.type = 12, .subtype = 11}, "armv7s"},
      {ProcessorShape{.type = 12, .subtype = 12}, "arm-unknown"},
      {ProcessorShape{.type = 0x100000c, .subtype = 0}, "arm64"},
      {ProcessorShape{.type = 0x100000c, .subtype = 1}, "armv8"},
      {ProcessorShape{.type = 0x100000c, .subtype = 0x80000002}, "arm64e"},  // capability bits ignored
      {ProcessorShape{.type = 0x100000c, .subtype = 3}, "arm64-unknown"},
      {ProcessorShape{.type = 0x1000012, .subtype = 0}, "???"},
      {ProcessorShape{.encoding = 0, .type = 7, .subtype = 3}, "???"},
      {std::nullopt, "???"},
  };
  for (const Case& c : cases) {
    ReportShape shape;
    shape.images = {ImageShape{.base = 0x1000, .size = 0x10, .name = "/x", .codeType = c.codeType}};
    const std::vector<std::string> lines = imageLines(format(shape));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(std::string(" x ") + c.name + "  <"), std::string::npos) << lines[0];
  }
}

TEST(CrashReportTextFormatter, SymbolUnderscoreIsDroppedOnlyWhereTheSystemAddsIt) {
  struct Case {
    std::optional<int> operatingSystem;
    std::string symbol;
    std::string shown;
    std::string osName;
    bool logged;
  };
  const Case cases[] = {
      {0, "_main", "main + 16", "Mac OS X", false},
      {1, "_main", "main + 16", "iPhone OS", false},
      {2, "_main", "main + 16", "Mac OS X", false},
      {4, "_main", "main + 16", "Apple tvOS", false},
      // This system's own reports: ELF names have no prefix to drop, and nothing is said.
      {kOsUnknown, "_main", "_main + 16", "Unknown (3)", false},
      {std::nullopt, "_main", "_main + 16", "Unknown (3)", false},
      {9, "_main", "_main + 16", "Unknown (9)", true},
      {0, "_", "_ + 16", "Mac OS X", false},
      {kOsUnknown, "main", "main + 16", "Unknown (3)", false},
  };
  for (const Case& c : cases) {
    ReportShape shape;
    shape.operatingSystem = c.operatingSystem;
    shape.images = {ImageShape{.base = 0x1000, .size = 0x1000, .name = "/bin/app", .codeType = kX86_64}};
    const DZCrashReport report = decodeOk(shape);
    const DZCrashReportStackFrameInfo frame(0x1010, DZCrashReportSymbolInfo(c.symbol, 0x1000, 0));
    CapturedCrashLog log;
    EXPECT_EQ(DZCrashReportTextFormatter::formatStackFrame(frame, 3, report, true),
              "3   app                                 0x0000000000001010 " + c.shown + "\n")
        << c.symbol << " on " << c.osName;
    const std::vector<std::string> expectedLog = {"[DZCrashReporter] Symbol \"" + c.symbol +
                                                  "\" prefix rules are unknown for this OS!"};
    EXPECT_EQ(log.lines, c.logged ? expectedLog : std::vector<std::string>{})
        << c.symbol << " on " << c.osName;
    EXPECT_EQ(
        lineStartingWith(DZCrashReportTextFormatter::stringValueForCrashReport(report, {}), "OS Version:"),
        "OS Version:      " + c.osName + " 6.1.0 (?\?\?)");
  }
}

TEST(CrashReportTextFormatter, FramesWithoutSymbolsShowTheirImageOffset) {
  ReportShape shape;
  shape.images = {
      ImageShape{.base = 0x1000, .size = 0x1000, .name = "/lib/a-library-with-a-name-longer-than-35.so"}};
  const DZCrashReport report = decodeOk(shape);
  CapturedCrashLog log;
  EXPECT_EQ(DZCrashReportTextFormatter::formatStackFrame(DZCrashReportStackFrameInfo(0x1800, std::nullopt),
                                                         12, report, true),
            "12  a-library-with-a-name-longer-than-35.so 0x0000000000001800 0x1000 + 2048\n");
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(DZCrashReportTextFormatter::formatStackFrame(DZCrashReportStackFrameInfo(0x9000, std::nullopt), 0,
                                                         report, false),
            "0   ???                                 0x00009000 0x0 + 0\n");
  EXPECT_EQ(DZCrashReportTextFormatter::formatStackFrame(DZCrashReportStackFrameInfo(0, std::nullopt), 1,
                                                         report, false),
            "1   ???                                 0x00000000 0x0 + 0\n");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"[DZCrashReporter] Cannot find image for 0x9000"}));
}

TEST(CrashReportTextFormatter, BytesFollowTheChosenEncoding) {
  ReportShape shape;
  shape.appIdentifier = "caf\xC3\xA9.app\xFF";  // é, then a byte that is not UTF-8
  const DZCrashReport report = decodeOk(shape);
  const std::string utf8 =
      DZCrashReportTextFormatter(DZCrashReportTextFormat::classic, DZCrashReportStringEncoding::utf8)
          .formatReport(report);
  const std::string ascii =
      DZCrashReportTextFormatter(DZCrashReportTextFormat::classic, DZCrashReportStringEncoding::ascii)
          .formatReport(report);
  EXPECT_EQ(lineStartingWith(utf8, "Identifier:"), "Identifier:      caf\xC3\xA9.app\xEF\xBF\xBD");
  EXPECT_EQ(lineStartingWith(ascii, "Identifier:"), "Identifier:      caf?.app?");
  // Only the identifier changed: the rest is the plain text.
  const std::string plain = DZCrashReportTextFormatter::stringValueForCrashReport(report, {});
  EXPECT_EQ(ascii.size(), plain.size() - 1);
  EXPECT_EQ(utf8.size(), plain.size() + 2);
}
