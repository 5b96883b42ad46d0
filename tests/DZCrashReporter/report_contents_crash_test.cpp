// What a report written by a real crash of a child process holds in the cases where it is easy to get
// wrong: a library loaded where an unloaded one lay, a crash in the last of many libraries loaded after
// the reporter was enabled, a library whose path is longer than a kilobyte, an uncaught std::bad_alloc with
// no memory left, an assert's message, more threads than the capture's cap, and a stack overflow on a worker
// thread.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "DZCrashReporter/DZCrashReporter.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/DZCrashReporter/ChildFinish.h"
#include "tests/DZCrashReporter/DecodedReport.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;
using namespace dzcrash::test;
using quorvelle::test::TempDir;

// Functions the reports must name: exported (tests/CMakeLists.txt) and out of line.
extern "C" {

__attribute__((noinline)) void dz_test_call_library(void (*fn)()) {
  fn();
  __asm__ volatile("" ::: "memory");
}

__attribute__((noinline)) void dz_test_crowd_fault() {
  // Read at run time, so that the optimiser neither folds the store nor warns about it.
  static volatile uintptr_t faultAddress = 0x10;
  *reinterpret_cast<volatile int*>(faultAddress) = 1;
  __asm__ volatile("" ::: "memory");
}

__attribute__((noinline)) int dz_test_overflow_b(int depth);

__attribute__((noinline)) int dz_test_overflow_a(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  return dz_test_overflow_b(depth + 1) + pad[0];
}

__attribute__((noinline)) int dz_test_overflow_b(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  return dz_test_overflow_a(depth + 1) + pad[0];
}

}  // extern "C"

namespace {

DZCrashReporterConfig withSymbols(const std::filesystem::path& base) {
  DZCrashReporterConfig config;
  config.basePath = base.string();
  config.symbolicationStrategy = DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE;
  return config;
}

// Enables a reporter for the child's crash; ends the child when that fails.
DZCrashReporter& enabledReporter(const std::filesystem::path& base) {
  static DZCrashReporter* reporter = new DZCrashReporter("app", "1", std::nullopt, withSymbols(base));
  if (auto error = reporter->enableCrashReporter()) finish(error->description());
  return *reporter;
}

// The report the child left, decoded; an empty optional (and a failure) when there is none.
std::optional<DZCrashReport> pendingReport(const std::filesystem::path& base) {
  const DZCrashReporter reporter("app", "1", std::nullopt, withSymbols(base));
  if (!reporter.hasPendingCrashReport()) {
    ADD_FAILURE() << "the crash left no report";
    return std::nullopt;
  }
  const auto bytes = reporter.loadPendingCrashReportData();
  if (!bytes.ok()) {
    ADD_FAILURE() << bytes.error().description();
    return std::nullopt;
  }
  return decode(bytes.value());
}

std::string symbolOf(const DZCrashReportStackFrameInfo& frame) {
  return frame.symbolInfo() ? frame.symbolInfo()->symbolName() : std::string();
}

// The GNU build id of an ELF file, in hex, read from its note segments.
std::string buildIdOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
  Elf64_Ehdr header;
  std::memcpy(&header, file.data(), sizeof header);
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment;
    std::memcpy(&segment, file.data() + header.e_phoff + i * header.e_phentsize, sizeof segment);
    if (segment.p_type != PT_NOTE) continue;
    for (uint64_t at = segment.p_offset; at + sizeof(Elf64_Nhdr) <= segment.p_offset + segment.p_filesz;) {
      Elf64_Nhdr note;
      std::memcpy(&note, file.data() + at, sizeof note);
      const uint64_t desc = at + sizeof note + ((note.n_namesz + 3) & ~3u);
      if (note.n_type == NT_GNU_BUILD_ID) {
        std::string hex;
        char digits[3];
        for (uint32_t b = 0; b < note.n_descsz; ++b) {
          std::snprintf(digits, sizeof digits, "%02x", static_cast<uint8_t>(file[desc + b]));
          hex += digits;
        }
        return hex;
      }
      at = desc + ((note.n_descsz + 3) & ~3u);
    }
  }
  return {};
}

uint64_t headerOf(void* symbol) {
  Dl_info info;
  return dladdr(symbol, &info) != 0 ? reinterpret_cast<uint64_t>(info.dli_fbase) : 0;
}

// ---- An image unloaded, and another loaded in its place ----

// Library A is loaded when the reporter fills its image list; then it is unloaded, B is loaded (where A
// lay, as the dynamic linker tends to place it) and the crash happens in B.
[[noreturn]] void crashInALibraryLoadedAfterAnotherWasUnloaded(const std::filesystem::path& base) {
  void* a = dlopen(DZCRASH_TEST_SWAP_A, RTLD_NOW | RTLD_LOCAL);
  if (a == nullptr) finish(dlerror());
  const uint64_t aHeader = headerOf(dlsym(a, "dz_swap_a_fault"));
  enabledReporter(base);
  dlclose(a);
  void* b = dlopen(DZCRASH_TEST_SWAP_B, RTLD_NOW | RTLD_LOCAL);
  if (b == nullptr) finish(dlerror());
  auto fault = reinterpret_cast<void (*)()>(dlsym(b, "dz_swap_b_fault"));
  std::ofstream(base / "headers") << aHeader << " " << headerOf(reinterpret_cast<void*>(fault)) << "\n";
  dz_test_call_library(fault);
  finish("no crash");
}

}  // namespace

TEST(ReportContentsCrash, ALibraryLoadedWhereAnUnloadedOneLayIsReportedAsItself) {
  TempDir base;
  EXPECT_EXIT(crashInALibraryLoadedAfterAnotherWasUnloaded(base.path()), testing::KilledBySignal(SIGSEGV),
              "");
  uint64_t aHeader = 0;
  uint64_t bHeader = 0;
  std::ifstream(base / "headers") >> aHeader >> bHeader;
  ASSERT_NE(bHeader, 0u);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Without a sanitizer's own mappings in between, B takes A's place: the case this test is about.
  EXPECT_EQ(aHeader, bHeader);
#endif
  const auto report = pendingReport(base.path());
  ASSERT_TRUE(report.has_value());

  for (const auto& image : report->images())
    EXPECT_EQ(image.imageName().find("dzcrash_test_swap_a"), std::string::npos) << "unloaded, still listed";
  const auto b = std::find_if(report->images().begin(), report->images().end(),
                              [](const auto& image) { return image.imageName() == DZCRASH_TEST_SWAP_B; });
  ASSERT_NE(b, report->images().end());
  EXPECT_EQ(b->imageBaseAddress(), bHeader);
  EXPECT_EQ(b->imageUUID().value_or(""), buildIdOf(DZCRASH_TEST_SWAP_B));

  // Named from B's own symbols and unwound through B's own tables into the caller.
  const DZCrashReportThreadInfo* crashed = crashedThread(*report);
  ASSERT_NE(crashed, nullptr);
  ASSERT_GE(crashed->stackFrames().size(), 2u);
  EXPECT_EQ(symbolOf(crashed->stackFrames()[0]), "dz_swap_b_fault");
  EXPECT_EQ(symbolOf(crashed->stackFrames()[1]), "dz_test_call_library");
}

// ---- Many libraries loaded after the reporter was enabled ----

namespace {

std::string manyLibrary(int i) {
  return std::string(DZCRASH_TEST_MANY_DIR) + "/libdz_many_" + std::to_string(i) + ".so";
}

// Each library is found at write time, in the dynamic linker's map: none was there when the reporter
// filled its image list.
[[noreturn]] void crashInTheLastOfManyLibrariesLoadedLate(const std::filesystem::path& base) {
  enabledReporter(base);
  void (*fault)() = nullptr;
  for (int i = 0; i < DZCRASH_TEST_MANY_COUNT; ++i) {
    void* library = dlopen(manyLibrary(i).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) finish(dlerror());
    fault = reinterpret_cast<void (*)()>(dlsym(library, "dz_many_fault"));
  }
  if (fault == nullptr) finish("no dz_many_fault");
  dz_test_call_library(fault);
  finish("no crash");
}

}  // namespace

TEST(ReportContentsCrash, ACrashInTheLastOfManyLibrariesLoadedLateNamesThatLibrary) {
  TempDir base;
  EXPECT_EXIT(crashInTheLastOfManyLibrariesLoadedLate(base.path()), testing::KilledBySignal(SIGSEGV), "");
  const auto report = pendingReport(base.path());
  ASSERT_TRUE(report.has_value());

  const auto& images = report->images();
  EXPECT_EQ(std::count_if(images.begin(), images.end(),
                          [](const auto& image) {
                            return image.imageName().find("/libdz_many_") != std::string::npos;
                          }),
            DZCRASH_TEST_MANY_COUNT);
  const std::string last = manyLibrary(DZCRASH_TEST_MANY_COUNT - 1);
  const auto image = std::find_if(images.begin(), images.end(),
                                  [&](const auto& candidate) { return candidate.imageName() == last; });
  ASSERT_NE(image, images.end());
  EXPECT_EQ(image->imageUUID().value_or(""), buildIdOf(last));

  // Named from that library's own symbols and unwound through its own tables into the caller.
  const DZCrashReportThreadInfo* crashed = crashedThread(*report);
  ASSERT_NE(crashed, nullptr);
  ASSERT_GE(crashed->stackFrames().size(), 2u);
  const uint64_t pc = crashed->stackFrames()[0].instructionPointer();
  EXPECT_GE(pc, image->imageBaseAddress());
  EXPECT_LT(pc - image->imageBaseAddress(), image->imageSize());
  EXPECT_EQ(symbolOf(crashed->stackFrames()[0]), "dz_many_fault");
  EXPECT_EQ(symbolOf(crashed->stackFrames()[1]), "dz_test_call_library");
}

// ---- A library under a path longer than a kilobyte ----

namespace {

// Nine folders deep: 1,800 bytes and more.
std::filesystem::path deepLibraryIn(const std::filesystem::path& base) {
  std::filesystem::path folder = base;
  for (char level = 'a'; level < 'j'; ++level) folder /= std::string(200, level);
  return folder / "libdzcrash_deep.so";
}

[[noreturn]] void crashInALibraryUnderADeepPath(const std::filesystem::path& base, bool loadedFirst) {
  const std::string path = deepLibraryIn(base).string();
  std::filesystem::create_directories(deepLibraryIn(base).parent_path());
  std::filesystem::copy_file(DZCRASH_TEST_SWAP_B, path);
  if (!loadedFirst) enabledReporter(base);
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) finish(dlerror());
  if (loadedFirst) enabledReporter(base);
  dz_test_call_library(reinterpret_cast<void (*)()>(dlsym(library, "dz_swap_b_fault")));
  finish("no crash");
}

}  // namespace

// Whether the reporter's image list holds the library already or the write finds it in the dynamic
// linker's map, its path is written whole.
TEST(ReportContentsCrash, ALibraryUnderAPathLongerThanAKilobyteIsNamedByItsWholePath) {
  for (const bool loadedFirst : {true, false}) {
    SCOPED_TRACE(loadedFirst ? "loaded before the reporter was enabled" : "loaded after");
    TempDir base;
    EXPECT_EXIT(crashInALibraryUnderADeepPath(base.path(), loadedFirst), testing::KilledBySignal(SIGSEGV),
                "");
    const auto report = pendingReport(base.path());
    ASSERT_TRUE(report.has_value());
    const std::string expected = deepLibraryIn(base.path()).string();
    ASSERT_GT(expected.size(), 1800u);
    const DZCrashReportThreadInfo* crashed = crashedThread(*report);
    ASSERT_NE(crashed, nullptr);
    ASSERT_FALSE(crashed->stackFrames().empty());
    EXPECT_EQ(symbolOf(crashed->stackFrames()[0]), "dz_swap_b_fault");
    const uint64_t pc = crashed->stackFrames()[0].instructionPointer();
    const auto& images = report->images();
    const auto image = std::find_if(images.begin(), images.end(), [&](const auto& candidate) {
      return pc >= candidate.imageBaseAddress() && pc - candidate.imageBaseAddress() < candidate.imageSize();
    });
    ASSERT_NE(image, images.end());
    EXPECT_EQ(image->imageName(), expected);
    EXPECT_EQ(image->imageUUID().value_or(""), buildIdOf(DZCRASH_TEST_SWAP_B));
  }
}

// ---- An uncaught std::bad_alloc with the address space used up ----

namespace {

[[noreturn]] void exhaustTheAddressSpace(const std::filesystem::path& base) {
  enabledReporter(base);
  // What the process has mapped now, and 64 MiB more.
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20);
  const rlimit cap = {limit, limit};
  // On a thread of its own, where nothing catches the last std::bad_alloc (the death test would).
  std::thread([&] {
    if (setrlimit(RLIMIT_AS, &cap) != 0) finish("setrlimit failed");
    // Every block is kept, linked through its first bytes from a global the optimiser cannot drop:
    // first the big ones until none is left, then ever smaller ones, until not even the smallest is.
    static void* volatile kept = nullptr;
    auto take = [](size_t size) {
      void* block = ::operator new(size);
      *static_cast<void**>(block) = kept;
      kept = block;
    };
    for (const size_t size : {size_t{1} << 20, size_t{1} << 16, size_t{1} << 12, size_t{1} << 8}) {
      try {
        for (;;) take(size);
      } catch (const std::bad_alloc&) {
      }
    }
    for (;;) take(16);
  }).join();
  finish("no exception escaped");
}

}  // namespace

TEST(ReportContentsCrash, AnUncaughtBadAllocWithNoMemoryLeftKeepsItsException) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#endif
  TempDir base;
  EXPECT_EXIT(exhaustTheAddressSpace(base.path()), testing::KilledBySignal(SIGABRT), "");
  const auto report = pendingReport(base.path());
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->signalInfo().name(), "SIGABRT");
  ASSERT_TRUE(report->exceptionInfo().has_value()) << "a bare SIGABRT";
  EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::bad_alloc");
  EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "std::bad_alloc");
  ASSERT_TRUE(report->exceptionInfo()->stackFrames().has_value());
  EXPECT_FALSE(report->exceptionInfo()->stackFrames()->empty());
}

// ---- An assert's message ----

namespace {

[[noreturn]] void failAnAssertion(const std::filesystem::path& base) {
  enabledReporter(base);
  // What assert(value == 42) calls when it fails.
  __assert_fail("value == 42", "checks.cpp", 7, "void check()");
}

}  // namespace

TEST(ReportContentsCrash, AnAssertFailureCarriesItsMessage) {
  TempDir base;
  EXPECT_EXIT(failAnAssertion(base.path()), testing::KilledBySignal(SIGABRT), "Assertion");
  const auto report = pendingReport(base.path());
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->signalInfo().name(), "SIGABRT");
  ASSERT_TRUE(report->signalInfo().crashInfoMessage().has_value());
  EXPECT_NE(
      report->signalInfo().crashInfoMessage()->find("checks.cpp:7: void check(): Assertion `value == 42' "
                                                    "failed."),
      std::string::npos)
      << *report->signalInfo().crashInfoMessage();
}

// ---- More threads than the capture's cap ----

namespace {

constexpr int kCrowd = 1100;

[[noreturn]] void crashOnTheLastOfManyThreads(const std::filesystem::path& base) {
  enabledReporter(base);
  int never[2];
  if (pipe(never) != 0) finish("pipe failed");
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  // Each waits for a byte that never comes; the last one, listed after all the others, crashes.
  for (int i = 0; i < kCrowd - 1; ++i) {
    pthread_t thread;
    if (pthread_create(
            &thread, &attributes,
            [](void* fd) -> void* {
              char c;
              while (read(*static_cast<int*>(fd), &c, 1) != 0) {
              }
              return nullptr;
            },
            &never[0]) != 0) {
      finish("could not start thread " + std::to_string(i));
    }
  }
  pthread_t last;
  pthread_create(
      &last, &attributes,
      [](void*) -> void* {
        dz_test_crowd_fault();
        return nullptr;
      },
      nullptr);
  pthread_join(last, nullptr);
  finish("no crash");
}

}  // namespace

TEST(ReportContentsCrash, TheCrashedThreadIsReportedAmongMoreThreadsThanTheCap) {
  TempDir base;
  EXPECT_EXIT(crashOnTheLastOfManyThreads(base.path()), testing::KilledBySignal(SIGSEGV), "");
  const auto report = pendingReport(base.path());
  ASSERT_TRUE(report.has_value());
  EXPECT_LE(report->threads().size(), 1024u);
  EXPECT_EQ(std::count_if(report->threads().begin(), report->threads().end(),
                          [](const auto& thread) { return thread.crashed(); }),
            1);
  const DZCrashReportThreadInfo* crashed = crashedThread(*report);
  ASSERT_NE(crashed, nullptr);
  ASSERT_FALSE(crashed->stackFrames().empty());
  EXPECT_EQ(symbolOf(crashed->stackFrames()[0]), "dz_test_crowd_fault");
  EXPECT_FALSE(crashed->registers().empty());
}

// ---- A stack overflow on one of the project's worker threads ----

namespace {

[[noreturn]] void overflowAWorkerThread(const std::filesystem::path& base) {
  // Started before the reporter is enabled: it sets up its stack before its next job.
  static platform::ThreadSerialQueue queue("dz-overflow");
  queue.sync([] {});
  enabledReporter(base);
  queue.async([] { dz_test_overflow_a(0); });
  for (;;) pause();
}

}  // namespace

TEST(ReportContentsCrash, AStackOverflowOnAWorkerThreadIsReported) {
  TempDir base;
  EXPECT_EXIT(overflowAWorkerThread(base.path()), testing::KilledBySignal(SIGSEGV), "");
  const auto report = pendingReport(base.path());
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->signalInfo().name(), "SIGSEGV");
  const DZCrashReportThreadInfo* crashed = crashedThread(*report);
  ASSERT_NE(crashed, nullptr);
  ASSERT_FALSE(crashed->stackFrames().empty());
  const std::string top = symbolOf(crashed->stackFrames()[0]);
  EXPECT_TRUE(top == "dz_test_overflow_a" || top == "dz_test_overflow_b") << top;
  // The main thread, waiting, is another thread of the report.
  EXPECT_GE(report->threads().size(), 2u);
}
