#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DZCrashReporter/DZCrashReporter.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"
#include "tests/DZCrashReporter/CapturedCrashLog.h"
#include "tests/DZCrashReporter/ChildFinish.h"
#include "tests/DZCrashReporter/DecodedReport.h"
#include "tests/support/CaseName.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;
using namespace dzcrash::test;
using quorvelle::test::TempDir;

namespace {

DZCrashReporterConfig withBasePath(const std::filesystem::path& base, uint32_t signalHandlerType = 0) {
  DZCrashReporterConfig config;
  config.basePath = base.string();
  config.signalHandlerType = signalHandlerType;
  return config;
}

// How many of the crash signals have our handler, on the alternate stack.
int installedHandlers() {
  int count = 0;
  for (const int signo : monitored_signals) {
    struct sigaction action = {};
    sigaction(signo, nullptr, &action);
    if ((action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == DZcrash_signal_handler &&
        (action.sa_flags & SA_ONSTACK) != 0) {
      ++count;
    }
  }
  return count;
}

std::string enableAndCountHandlers(uint32_t type, int expected) {
  TempDir base;
  DZCrashReporter reporter("app", "1", std::nullopt, withBasePath(base.path(), type));
  if (auto error = reporter.enableCrashReporter()) return error->description();
  const int count = installedHandlers();
  return count == expected ? "" : std::to_string(count) + " handlers installed";
}

std::string oneEnablePerProcess() {
  TempDir base;
  DZCrashReporter first("app", "1", std::nullopt, withBasePath(base.path()));
  DZCrashReporter second("other", "1", std::nullopt, withBasePath(base.path()));
  if (auto error = first.enableCrashReporter()) return "first enable: " + error->description();
  const DZCrashReporterError again(DZCrashReporterErrorCode::alreadyEnabled,
                                   "A DZCrashReporter instance has already been enabled");
  if (second.enableCrashReporter() != again) return "second reporter enabled";
  if (first.enableCrashReporter() != again) return "first reporter enabled twice";
  const DZCrashReporterError callbacks(DZCrashReporterErrorCode::alreadyEnabled,
                                       "The crash reporter has already been enabled");
  if (first.setCrashCallbacks({}) != callbacks) return "callbacks changed after enabling";
  if (second.setCrashCallbacks({}) != std::nullopt) return "callbacks refused before enabling";
  return {};
}

std::string failedEnableStillCountsAsTheOne() {
  TempDir base;
  std::ofstream(base / "file") << "x";
  DZCrashReporter blocked("app", "1", std::nullopt, withBasePath(base / "file"));
  const auto error = blocked.enableCrashReporter();
  if (!error || error->code() != DZCrashReporterErrorCode::operatingSystem)
    return "enable under a file succeeded";
  DZCrashReporter fine("app", "1", std::nullopt, withBasePath(base / "dir"));
  const auto retry = fine.enableCrashReporter();
  if (!retry || retry->code() != DZCrashReporterErrorCode::alreadyEnabled) return "a later enable succeeded";
  return installedHandlers() == 0 ? "" : "handlers installed";
}

}  // namespace

TEST(ReporterCrash, HandlerTypesZeroAndOneInstallTheSixSignalsAndOthersNone) {
  EXPECT_EXIT(finish(enableAndCountHandlers(0, 6)), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(finish(enableAndCountHandlers(1, 6)), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(finish(enableAndCountHandlers(2, 0)), testing::ExitedWithCode(0), "");
}

TEST(ReporterCrash, OnlyOneEnablePerProcess) {
  EXPECT_EXIT(finish(oneEnablePerProcess()), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(finish(failedEnableStillCountsAsTheOne()), testing::ExitedWithCode(0), "");
}

namespace {

// Two threads let their exceptions escape at the same moment.
[[noreturn]] void twoUncaughtExceptions(const std::filesystem::path& base) {
  DZCrashReporter reporter("app", "1", std::nullopt, withBasePath(base));
  if (auto error = reporter.enableCrashReporter()) finish(error->description());
  std::atomic<int> ready{0};
  auto thrower = [&ready](const char* reason) {
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
    throw std::runtime_error(reason);
  };
  std::thread one(thrower, "one");
  std::thread two(thrower, "two");
  one.join();
  two.join();
  finish("no exception ended the process");
}

}  // namespace

// The exception that came first is the report's, whole; the other thread's does not overwrite it or
// end the process before it is written.
TEST(ReporterCrash, OfTwoUncaughtExceptionsAtOnceTheFirstIsRecorded) {
  TempDir base;
  EXPECT_EXIT(twoUncaughtExceptions(base.path()), testing::KilledBySignal(SIGABRT), "");
  const DZCrashReporter reporter("app", "1", std::nullopt, withBasePath(base.path()));
  const auto bytes = reporter.loadPendingCrashReportData();
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  const DZCrashReport report = decode(bytes.value());
  EXPECT_EQ(report.signalInfo().name(), "SIGABRT");
  ASSERT_TRUE(report.exceptionInfo().has_value());
  EXPECT_EQ(report.exceptionInfo()->exceptionName(), "std::runtime_error");
  const std::string reason = report.exceptionInfo()->exceptionReason();
  EXPECT_TRUE(reason == "one" || reason == "two") << reason;
  EXPECT_NE(crashedThread(report), nullptr);
}

// ---- Real crashes of tools/dzcrash-demo, one child per kind. ----

namespace {

const std::string kDemo = QUORVELLE_BINARY_DIR "/tools/dzcrash-demo";

struct DemoCrash {
  std::string text;
  DZCrashReport report;
};

// The frames of the formatted report's crashed thread, each as its symbol (or "" when it has none).
std::vector<std::string> crashedThreadSymbols(const std::string& text) {
  std::vector<std::string> symbols;
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside) {
      inside = line.rfind("Thread ", 0) == 0 && line.size() > 9 &&
               line.compare(line.size() - 9, 9, " Crashed:") == 0;
      continue;
    }
    if (line.empty()) break;
    // "<index> <image> <address> <symbol> + <offset>", or "<address> + <offset>" in place of the symbol.
    std::istringstream fields(line);
    std::string index, image, address, symbol;
    fields >> index >> image >> address >> symbol;
    symbols.push_back(symbol.rfind("0x", 0) == 0 ? "" : symbol);
  }
  return symbols;
}

bool threadNames(const DZCrashReportThreadInfo& thread, const std::string& symbol) {
  return symbolsOf(thread).count(symbol) != 0;
}

bool anotherThreadNames(const DZCrashReport& report, const std::string& symbol) {
  return std::any_of(report.threads().begin(), report.threads().end(),
                     [&](const auto& thread) { return !thread.crashed() && threadNames(thread, symbol); });
}

struct DemoCase {
  const char* name;
  // The signal that ends the demo, and the one its report names.
  int termSignal;
  int reportSignal;
  const char* code;
  // The report's address for this crash.
  std::function<bool(uint64_t address, const DZCrashReport& report)> address;
  // Acceptable (crashing function, its caller) pairs: the crashed thread's first two demo frames.
  std::vector<std::pair<std::string, std::string>> frames;
  std::function<void(const DZCrashReport& report)> more = nullptr;
};

auto exactly(uint64_t expected) {
  return [expected](uint64_t address, const DZCrashReport&) { return address == expected; };
}

bool nonZero(uint64_t address, const DZCrashReport&) {
  return address != 0;
}

// SIGFPE and SIGILL carry the faulting instruction's address: the crashed thread's first frame.
bool faultingInstruction(uint64_t address, const DZCrashReport& report) {
  for (const auto& thread : report.threads()) {
    if (thread.crashed())
      return !thread.stackFrames().empty() && thread.stackFrames()[0].instructionPointer() == address;
  }
  return false;
}

std::pair<std::string, std::string> calledFromCrash(const char* function) {
  return {function, "dz_demo_crash"};
}

void PrintTo(const DemoCase& c, std::ostream* out) {
  *out << c.name;
}

class DemoCrashes : public testing::TestWithParam<DemoCase> {};

}  // namespace

TEST_P(DemoCrashes, KillTheDemoByTheirSignalAndLeaveOneReport) {
  const DemoCase& c = GetParam();
  TempDir dir;
  const std::filesystem::path cache = dir / "cache";
  const auto run = quorvelle::test::runProgram(
      {kDemo, "crash", c.name}, dir, {{"XDG_CACHE_HOME", cache.string()}, {"TMPDIR", dir.path().string()}});
  EXPECT_EQ(run.termSignal, c.termSignal) << run.out << run.err;
  EXPECT_NE(run.out.find("allocations since the crash began: 0\n"), std::string::npos) << run.out << run.err;

  // The reporter the demo used, as a later run of the same program finds it.
  DZCrashReporterConfig config;
  config.basePath = cache.string();
  const DZCrashReporter reporter("dzcrash-demo", "1", std::nullopt, config);
  EXPECT_EQ(std::set<std::string>({"live_report.dzcrash", "queued_reports"}), [&] {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(reporter.crashReportDirectory()))
      entries.insert(entry.path().filename().string());
    return entries;
  }());
  ASSERT_TRUE(reporter.hasPendingCrashReport());
  const auto bytes = reporter.loadPendingCrashReportData();
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  EXPECT_EQ(reporter.purgePendingCrashReport(), std::nullopt);
  EXPECT_FALSE(reporter.hasPendingCrashReport());
  auto decoded = DZCrashReport::fromData(bytes.value());
  ASSERT_TRUE(decoded.ok()) << decoded.error().description();
  const DZCrashReport& report = decoded.value();
  dzcrash::test::CapturedCrashLog quiet;
  const std::string text =
      DZCrashReportTextFormatter(DZCrashReportTextFormat::classic, DZCrashReportStringEncoding::utf8)
          .formatReport(report);
  // ELF symbols have no prefix rules to report; the formatter says nothing of them.
  for (const std::string& line : quiet.lines) EXPECT_EQ(line.find("prefix rules"), std::string::npos) << line;

  // The host's names: its abbreviation table for the signal, <signal.h>'s name for the code.
  const std::string signalName = std::string("SIG") + sigabbrev_np(c.reportSignal);
  EXPECT_EQ(report.signalInfo().name(), signalName);
  EXPECT_EQ(report.signalInfo().code(), c.code);
  EXPECT_NE(text.find("Exception Type:  " + signalName + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Exception Codes: " + std::string(c.code) + " at "), std::string::npos) << text;
  EXPECT_TRUE(c.address(report.signalInfo().address(), report)) << std::hex << report.signalInfo().address();
  EXPECT_EQ(std::count_if(report.threads().begin(), report.threads().end(),
                          [](const auto& t) { return t.crashed(); }),
            1);

  const std::vector<std::string> symbols = crashedThreadSymbols(text);
  const auto first = std::find_if(symbols.begin(), symbols.end(),
                                  [](const std::string& s) { return s.rfind("dz_demo_", 0) == 0; });
  ASSERT_TRUE(first != symbols.end() && first + 1 != symbols.end()) << text;
  EXPECT_NE(std::find(c.frames.begin(), c.frames.end(), std::make_pair(*first, *(first + 1))), c.frames.end())
      << *first << " called from " << *(first + 1) << "\n"
      << text;
  if (c.more) c.more(report);
}

const DemoCase kDemoCases[] = {
    {"segv", SIGSEGV, SIGSEGV, "SEGV_MAPERR", exactly(0x10), {calledFromCrash("dz_demo_segv")}},
    {"bus", SIGBUS, SIGBUS, "BUS_ADRERR", nonZero, {calledFromCrash("dz_demo_bus")}},
    {"fpe", SIGFPE, SIGFPE, "FPE_INTDIV", faultingInstruction, {calledFromCrash("dz_demo_fpe")}},
    {"ill", SIGILL, SIGILL, "ILL_ILLOPN", faultingInstruction, {calledFromCrash("dz_demo_ill")}},
    // A breakpoint instruction is reported by the kernel itself, with no address.
    {"trap", SIGTRAP, SIGTRAP, "SI_KERNEL", exactly(0), {calledFromCrash("dz_demo_trap")}},
    // abort() sends itself the signal: the field that would hold an address holds a pid.
    {"abort", SIGABRT, SIGABRT, "SI_TKILL", exactly(0), {calledFromCrash("dz_demo_abort")}},
    {.name = "exception",
     .termSignal = SIGABRT,
     .reportSignal = SIGABRT,
     .code = "SI_TKILL",
     .address = exactly(0),
     // The crashed thread still stands at the throw.
     .frames = {calledFromCrash("dz_demo_exception")},
     .more =
         [](const DZCrashReport& report) {
           ASSERT_TRUE(report.exceptionInfo().has_value());
           EXPECT_EQ(report.exceptionInfo()->exceptionName(), "std::runtime_error");
           EXPECT_EQ(report.exceptionInfo()->exceptionReason(), "boom");
           ASSERT_TRUE(report.exceptionInfo()->stackFrames().has_value());
           // The stack starts at the throwing function: the hook and the runtime's throw are left out.
           const auto& frames = *report.exceptionInfo()->stackFrames();
           ASSERT_GE(frames.size(), 2u);
           ASSERT_TRUE(frames[0].symbolInfo().has_value());
           EXPECT_EQ(frames[0].symbolInfo()->symbolName(), "dz_demo_exception");
           ASSERT_TRUE(frames[1].symbolInfo().has_value());
           EXPECT_EQ(frames[1].symbolInfo()->symbolName(), "dz_demo_crash");
         }},
    {"overflow",
     SIGSEGV,
     SIGSEGV,
     "SEGV_MAPERR",
     nonZero,
     {{"dz_demo_overflow_a", "dz_demo_overflow_b"}, {"dz_demo_overflow_b", "dz_demo_overflow_a"}}},
    {.name = "thread",
     .termSignal = SIGSEGV,
     .reportSignal = SIGSEGV,
     .code = "SEGV_MAPERR",
     .address = exactly(0x10),
     .frames = {{"dz_demo_thread_fault", "dz_demo_thread_body"}},
     .more =
         [](const DZCrashReport& report) {
           ASSERT_GE(report.threads().size(), 2u);
           // The main thread is listed first.
           EXPECT_FALSE(report.threads()[0].crashed());
           EXPECT_TRUE(threadNames(report.threads()[0], "dz_demo_wait_for_thread"));
         }},
    {.name = "malloc-lock",
     .termSignal = SIGSEGV,
     .reportSignal = SIGSEGV,
     .code = "SEGV_MAPERR",
     .address = exactly(0x10),
     .frames = {calledFromCrash("dz_demo_malloc_lock")},
     .more =
         [](const DZCrashReport& report) {
           // The thread that holds the lock is reported, stopped where it holds it.
           EXPECT_TRUE(anotherThreadNames(report, "dz_demo_hold_malloc_lock"));
#if !defined(__SANITIZE_ADDRESS__)
           // Under AddressSanitizer malloc_stats() is the sanitizer's own statistics printer, which
           // tail-calls into code the runtime does not export: the lock it blocks under is the sanitizer's
           // print lock, and no frame is named malloc_stats.
           EXPECT_TRUE(anotherThreadNames(report, "malloc_stats"));
#endif
         }},
    {.name = "two-threads",
     .termSignal = SIGSEGV,
     .reportSignal = SIGSEGV,
     .code = "SEGV_MAPERR",
     .address = [](uint64_t address, const DZCrashReport&) { return address == 0x10 || address == 0x20; },
     .frames = {{"dz_demo_racing_fault", "dz_demo_racing_thread"}},
     // The other faulting thread waited in its handler and was recorded there, below its fault.
     .more =
         [](const DZCrashReport& report) {
           EXPECT_TRUE(anotherThreadNames(report, "dz_demo_racing_fault"));
         }},
    // The callback's own fault ends the process at once; the report stays the abort's.
    {"callback-fault", SIGSEGV, SIGABRT, "SI_TKILL", exactly(0), {calledFromCrash("dz_demo_callback_fault")}},
    {.name = "custom-data",
     .termSignal = SIGSEGV,
     .reportSignal = SIGSEGV,
     .code = "SEGV_MAPERR",
     .address = exactly(0x10),
     .frames = {calledFromCrash("dz_demo_custom_data")},
     .more =
         [](const DZCrashReport& report) {
           // Each value the demo sets is 1000 + 997 * n bytes of the letter 'a' + n.
           ASSERT_TRUE(report.customData().has_value());
           const std::vector<uint8_t>& data = *report.customData();
           ASSERT_FALSE(data.empty());
           const uint8_t letter = data[0];
           ASSERT_TRUE(letter >= 'a' && letter <= 'z');
           EXPECT_EQ(data.size(), 1000u + 997u * (letter - 'a'));
           EXPECT_EQ(std::count(data.begin(), data.end(), letter), static_cast<std::ptrdiff_t>(data.size()));
         }},
};

INSTANTIATE_TEST_SUITE_P(Kinds, DemoCrashes, testing::ValuesIn(kDemoCases), quorvelle::test::NamedCase());

TEST(ReporterCrash, DemoShowPrintsThePendingReportAndPurgesIt) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> env = {{"XDG_CACHE_HOME", (dir / "cache").string()},
                                                                {"TMPDIR", dir.path().string()}};
  ASSERT_EQ(quorvelle::test::runProgram({kDemo, "crash", "segv"}, dir, env).termSignal, SIGSEGV);
  const auto shown = quorvelle::test::runProgram({kDemo, "show"}, dir, env);
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("Exception Type:  SIGSEGV"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("dz_demo_segv"), std::string::npos) << shown.out;
  const auto again = quorvelle::test::runProgram({kDemo, "show"}, dir, env);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("no pending crash report"), std::string::npos) << again.err;
}
