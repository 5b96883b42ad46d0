#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"
#include "tests/DZCrashReporter/CrashReportFixture.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;
using namespace dzcrash::test;

namespace {

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

quorvelle::test::ProgramRun runTool(const quorvelle::test::TempDir& dir, const std::string& file) {
  return quorvelle::test::runProgram({QUORVELLE_BINARY_DIR "/tools/dzcrash-report", file}, dir);
}

}  // namespace

TEST(CrashReportTool, PrintsAReportFileAsText) {
  quorvelle::test::TempDir dir;
  ReportShape shape;
  shape.process = ProcessShape{.name = "quorvelle", .pid = 31, .path = "/usr/bin/quorvelle", .parentPid = 1};
  shape.threads[0].frames = {{.pc = 0x400010, .symbol = SymbolShape{.name = "_start", .start = 0x400000}}};
  const std::vector<uint8_t> bytes = packReportFile(shape);
  writeFile(dir / "live_report.dzcrash", bytes);

  const auto run = runTool(dir, (dir / "live_report.dzcrash").string());
  EXPECT_EQ(run.status, 0) << run.err;
  auto report = DZCrashReport::fromData(bytes);
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(run.out, DZCrashReportTextFormatter::stringValueForCrashReport(report.value(), {}));
  EXPECT_NE(run.out.find("Process:         quorvelle [31]\n"), std::string::npos) << run.out;
  // The report's ELF symbols need no word about prefixes: nothing is said.
  EXPECT_EQ(run.err, "");
}

TEST(CrashReportTool, PrintsTheReadersErrorForABrokenFile) {
  quorvelle::test::TempDir dir;
  std::vector<uint8_t> bytes = packReportFile(ReportShape{});
  bytes.resize(bytes.size() / 2);
  writeFile(dir / "truncated.dzcrash", bytes);
  const std::string path = (dir / "truncated.dzcrash").string();

  const auto run = runTool(dir, path);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "dzcrash-report: " + path + ": Could not decode crash report with size of " +
                         std::to_string(bytes.size() - 8) + " bytes. (DZCrashReporterErrorDomain 2)\n");

  const auto missing = runTool(dir, (dir / "absent.dzcrash").string());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}

TEST(LiveReportTool, PrintsAReportOfItselfWithItsWaitingThreads) {
  quorvelle::test::TempDir dir;
  const auto run = quorvelle::test::runProgram({QUORVELLE_BINARY_DIR "/tools/dzcrash-live-report"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* text : {"Thread 0 Crashed:", "Exception Type:  SIGTRAP", " dz_live_waits_in_read + ",
                           " dz_live_waits_in_poll + ", " dz_live_waits_deeper + ",
                           "Binary Images:", "/tools/dzcrash-live-report\n", "libc.so.6"}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
  }
  EXPECT_EQ(run.out.find("Thread 4:"), std::string::npos)
      << "only the main thread and the three waiting ones";
}
