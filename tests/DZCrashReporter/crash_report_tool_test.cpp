#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"
#include "tests/DZCrashReporter/CrashReportFixture.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;
using namespace dzcrash::test;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs the printer on `file` with its output in files, so that neither stream can fill up and stall it.
ToolRun runTool(const quorvelle::test::TempDir& dir, const std::string& file) {
  const std::string outPath = (dir / "out.txt").string();
  const std::string errPath = (dir / "err.txt").string();
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    const char* program = QUORVELLE_BINARY_DIR "/tools/dzcrash-report";
    execl(program, program, file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ToolRun run;
  if (child < 0) return run;
  int status = 0;
  waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

}  // namespace

TEST(CrashReportTool, PrintsAReportFileAsText) {
  quorvelle::test::TempDir dir;
  ReportSpec spec;
  spec.process = ProcessSpec{.name = "quorvelle", .pid = 31, .path = "/usr/bin/quorvelle", .parentPid = 1};
  spec.threads[0].frames = {{.pc = 0x400010, .symbol = SymbolSpec{.name = "_start", .start = 0x400000}}};
  const std::vector<uint8_t> bytes = packReportFile(spec);
  writeFile(dir / "live_report.dzcrash", bytes);

  const ToolRun run = runTool(dir, (dir / "live_report.dzcrash").string());
  EXPECT_EQ(run.status, 0) << run.err;
  auto report = DZCrashReport::fromData(bytes);
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(run.out, DZCrashReportTextFormatter::stringValueForCrashReport(report.value(), {}));
  EXPECT_NE(run.out.find("Process:         quorvelle [31]\n"), std::string::npos) << run.out;
  // Diagnostics go to standard error rather than the system log.
  EXPECT_EQ(run.err, "[DZCrashReporter] Symbol \"_start\" prefix rules are unknown for this OS!\n");
}

TEST(CrashReportTool, PrintsTheReadersErrorForABrokenFile) {
  quorvelle::test::TempDir dir;
  std::vector<uint8_t> bytes = packReportFile(ReportSpec{});
  bytes.resize(bytes.size() / 2);
  writeFile(dir / "truncated.dzcrash", bytes);
  const std::string path = (dir / "truncated.dzcrash").string();

  const ToolRun run = runTool(dir, path);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "dzcrash-report: " + path + ": Could not decode crash report with size of " +
                         std::to_string(bytes.size() - 8) + " bytes. (DZCrashReporterErrorDomain 2)\n");

  const ToolRun missing = runTool(dir, (dir / "absent.dzcrash").string());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}
