#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DZCrashReporter/DZCrashReporter.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "tests/DZCrashReporter/CapturedCrashLog.h"
#include "tests/DZCrashReporter/DecodedReport.h"
#include "tests/DZCrashReporter/ReportMessage.h"
#include "tests/DZCrashReporter/WaitingThreads.h"
#include "tests/support/CaseName.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;
using namespace dzcrash::test;
using quorvelle::test::ScopedEnvironment;
using quorvelle::test::TempDir;

// Waits in read(2) until a byte arrives (log_writer_test.cpp).
extern "C" int dz_test_parked_in_read(int fd, std::atomic<int>* running);

// Asks for a live report of the calling thread from a frame the report must name (exported; see
// tests/CMakeLists.txt).
extern "C" __attribute__((noinline)) DZCrashReporterResult<std::vector<uint8_t>> dz_test_live_report_here(
    const DZCrashReporter* reporter, const std::optional<DZCrashReporterExceptionRecord>* exception) {
  auto result = reporter->generateLiveReport(std::nullopt, *exception);
  __asm__ volatile("" ::: "memory");
  return result;
}

namespace {

DZCrashReporterConfig withBasePath(const std::filesystem::path& base) {
  DZCrashReporterConfig config;
  config.basePath = base.string();
  config.symbolicationStrategy = DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE;
  return config;
}

std::set<std::string> entriesOf(const std::filesystem::path& dir) {
  std::set<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    out.insert(entry.path().filename().string());
  return out;
}

struct PathCase {
  const char* name;
  std::optional<std::string> basePath;
  std::optional<std::string> cacheHome;
  std::string identifier;
  std::string directory;
};

void PrintTo(const PathCase& c, std::ostream* out) {
  *out << c.name;
}

class ReporterPaths : public testing::TestWithParam<PathCase> {};

}  // namespace

TEST_P(ReporterPaths, ReportDirectoryComesFromBaseCacheHomeAndIdentifier) {
  const PathCase& c = GetParam();
  ScopedEnvironment env({{"XDG_CACHE_HOME", c.cacheHome}, {"HOME", "/home/someone"}});
  DZCrashReporterConfig config;
  config.basePath = c.basePath;
  const DZCrashReporter reporter(c.identifier, "1", std::nullopt, config);
  EXPECT_EQ(reporter.crashReportDirectory(), c.directory);
  EXPECT_EQ(reporter.crashReportPath(), c.directory + "/live_report.dzcrash");
  EXPECT_EQ(reporter.queuedCrashReportDirectory(), c.directory + "/queued_reports");
}

const PathCase kPathCases[] = {
    {"base path wins", "/srv/base", "/cache", "com.example.app",
     "/srv/base/com.dizizoz.crashreporter.data/com.example.app"},
    {"trailing slash of the base", "/srv/base/", std::nullopt, "app",
     "/srv/base/com.dizizoz.crashreporter.data/app"},
    {"cache home", std::nullopt, "/var/cache/u", "app", "/var/cache/u/com.dizizoz.crashreporter.data/app"},
    {"empty base means none", "", "/var/cache/u", "app", "/var/cache/u/com.dizizoz.crashreporter.data/app"},
    {"home without cache home", std::nullopt, std::nullopt, "app",
     "/home/someone/.cache/com.dizizoz.crashreporter.data/app"},
    {"empty cache home", std::nullopt, "", "app", "/home/someone/.cache/com.dizizoz.crashreporter.data/app"},
    {"relative cache home is ignored", std::nullopt, "rel/cache", "app",
     "/home/someone/.cache/com.dizizoz.crashreporter.data/app"},
    {"slashes of the identifier", "/b", std::nullopt, "org/example/app",
     "/b/com.dizizoz.crashreporter.data/org_example_app"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReporterPaths, testing::ValuesIn(kPathCases), quorvelle::test::NamedCase());

TEST(Reporter, IdentityComesFromTheProcessWhenTheCallerGivesNone) {
  CapturedCrashLog log;
  auto made = DZCrashReporter::create();
  ASSERT_TRUE(made.ok());
  const auto& reporter = *made.value();
  EXPECT_EQ(reporter.applicationIdentifier(), program_invocation_short_name);
  EXPECT_EQ(reporter.applicationVersion(), "");
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{
                std::string("[DZCrashReporter] Warning -- bundle identifier, using process name ") +
                    program_invocation_short_name,
                "[DZCrashReporter] Warning -- bundle version unavailable"}));

  log.lines.clear();
  auto given = DZCrashReporter::create({}, "com.example.app", "2.1", "2.1.0");
  ASSERT_TRUE(given.ok());
  EXPECT_EQ(given.value()->applicationIdentifier(), "com.example.app");
  EXPECT_EQ(given.value()->applicationMarketingVersion(), "2.1.0");
  EXPECT_TRUE(log.lines.empty());
}

TEST(Reporter, PendingReportIsFoundReadAndPurged) {
  TempDir dir;
  const DZCrashReporter reporter("com.example.app", "1", std::nullopt, withBasePath(dir.path() / "base"));
  EXPECT_FALSE(reporter.hasPendingCrashReport());
  const auto missing = reporter.loadPendingCrashReportData();
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code(), DZCrashReporterErrorCode::operatingSystem);
  EXPECT_EQ(missing.error().posixErrno(), ENOENT);
  EXPECT_EQ(reporter.purgePendingCrashReport()->posixErrno(), ENOENT);

  ASSERT_EQ(reporter.populateCrashReportDirectory(), std::nullopt);
  for (const std::string& created : {reporter.crashReportDirectory(), reporter.queuedCrashReportDirectory(),
                                     (dir.path() / "base").string()}) {
    struct stat info;
    ASSERT_EQ(stat(created.c_str(), &info), 0) << created;
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0755u) << created;
  }
  // A second call finds everything in place.
  EXPECT_EQ(reporter.populateCrashReportDirectory(), std::nullopt);

  const std::vector<uint8_t> bytes = {'d', 'z', 'c', 'r', 'a', 's', 'h', 1, 0, 0xff};
  std::ofstream(reporter.crashReportPath(), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(reporter.hasPendingCrashReport());
  const auto loaded = reporter.loadPendingCrashReportData();
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded.value(), bytes);
  EXPECT_EQ(reporter.purgePendingCrashReport(), std::nullopt);
  EXPECT_FALSE(reporter.hasPendingCrashReport());
}

TEST(Reporter, DirectoryUnderAFileIsAnOperatingSystemError) {
  TempDir dir;
  std::ofstream(dir / "file") << "x";
  const DZCrashReporter reporter("app", "1", std::nullopt, withBasePath(dir / "file"));
  const auto error = reporter.populateCrashReportDirectory();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->code(), DZCrashReporterErrorCode::operatingSystem);
  EXPECT_EQ(error->posixErrno(), ENOTDIR);
}

TEST(Reporter, LiveReportOfTheCallingThreadIsAUserRequestedTraceTrap) {
  TempDir base;
  TempDir tmp;
  ScopedEnvironment env({{"TMPDIR", tmp.path().string()}});
  DZCrashReporter reporter("com.example.app", "3", std::nullopt, withBasePath(base.path()));
  reporter.setCustomData(std::vector<uint8_t>{'{', '}'});
  const std::optional<DZCrashReporterExceptionRecord> exception =
      DZCrashReporterExceptionRecord{"std::logic_error", "handled", {0x1000, 0x2000}};

  const auto bytes = dz_test_live_report_here(&reporter, &exception);
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  EXPECT_TRUE(entriesOf(tmp.path()).empty());

  const ReportMessage message = unpack(bytes.value());
  ASSERT_NE(message, nullptr);
  ASSERT_NE(message->report_info, nullptr);
  EXPECT_TRUE(message->report_info->user_requested);

  const DZCrashReport report = decode(bytes.value());
  EXPECT_EQ(report.signalInfo().name(), "SIGTRAP");
  EXPECT_EQ(report.signalInfo().code(), "TRAP_TRACE");
  EXPECT_EQ(report.signalInfo().address(), 0u);
  const DZCrashReportThreadInfo* crashed = crashedThread(report);
  ASSERT_NE(crashed, nullptr);
  EXPECT_EQ(symbolsOf(*crashed).count("dz_test_live_report_here"), 1u);
  EXPECT_FALSE(crashed->registers().empty());
  EXPECT_EQ(report.applicationInfo().applicationIdentifier(), "com.example.app");
  EXPECT_EQ(report.customData(), (std::vector<uint8_t>{'{', '}'}));
  ASSERT_TRUE(report.exceptionInfo().has_value());
  EXPECT_EQ(report.exceptionInfo()->exceptionName(), "std::logic_error");
  EXPECT_EQ(report.exceptionInfo()->exceptionReason(), "handled");
  ASSERT_TRUE(report.exceptionInfo()->stackFrames().has_value());
  EXPECT_EQ(report.exceptionInfo()->stackFrames()->size(), 2u);
}

TEST(Reporter, LiveReportOfAnotherThreadWalksItWhereItWaits) {
  TempDir base;
  TempDir tmp;
  ScopedEnvironment env({{"TMPDIR", tmp.path().string()}});
  const DZCrashReporter reporter("app", "1", std::nullopt, withBasePath(base.path()));
  WaitingThreads waiting({dz_test_parked_in_read});
  const size_t processThreadCount = processThreads().size();

  const auto bytes = reporter.generateLiveReport(waiting.tid(0));
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  const DZCrashReport report = decode(bytes.value());
  const DZCrashReportThreadInfo* crashed = crashedThread(report);
  ASSERT_NE(crashed, nullptr);
  EXPECT_EQ(symbolsOf(*crashed).count("dz_test_parked_in_read"), 1u);
  // The calling thread is left out.
  EXPECT_EQ(report.threads().size(), processThreadCount - 1);
  EXPECT_TRUE(entriesOf(tmp.path()).empty());
}

TEST(Reporter, LiveReportWithoutATemporaryDirectoryFails) {
  TempDir base;
  ScopedEnvironment env({{"TMPDIR", (base / "missing").string()}});
  const DZCrashReporter reporter("app", "1", std::nullopt, withBasePath(base.path()));
  const auto bytes = reporter.generateLiveReport();
  ASSERT_FALSE(bytes.ok());
  EXPECT_EQ(bytes.error(), DZCrashReporterError(DZCrashReporterErrorCode::operatingSystem,
                                                "Failed to create temporary path", ENOENT));
}
