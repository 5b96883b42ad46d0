#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "DZCrashReporter/capture/DZCrashHostInfo.h"
#include "DZCrashReporter/capture/DZCrashProcessInfo.h"
#include "DZCrashReporter/capture/DZCrashSysctl.h"
#include "tests/DZCrashReporter/CapturedCrashLog.h"
#include "tests/support/CaseName.h"

using namespace dzcrash;
using dzcrash::test::CapturedCrashLog;

namespace {

struct Utf8Case {
  std::string name;
  std::string bytes;
  size_t limit;
  size_t valid;
};

void PrintTo(const Utf8Case& c, std::ostream* os) {
  *os << c.name;
}

const Utf8Case kUtf8Cases[] = {
    {"ascii", "quorvelle", SIZE_MAX, 9},
    {"stops at the limit", "quorvelle", 4, 4},
    {"two, three and four byte sequences", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", SIZE_MAX, 9},
    {"sequence cut by the limit", "ab\xE2\x82\xAC", 4, 2},
    {"sequence cut by the end", "ab\xE2\x82", SIZE_MAX, 2},
    {"bad continuation byte", "ab\xC3\x41z", SIZE_MAX, 2},
    {"stray continuation byte", "a\x80z", SIZE_MAX, 1},
    {"lead byte beyond 0xF7", "a\xF8\x80\x80\x80\x80", SIZE_MAX, 1},
    {"byte-order mark counts", "\xEF\xBB\xBFx", SIZE_MAX, 4},
    {"byte-order mark needs a limit above 2", "\xEF\xBB\xBF", 2, 0},
    {"empty", "", SIZE_MAX, 0},
};

class ValidUtf8 : public ::testing::TestWithParam<Utf8Case> {};

struct ReleaseCase {
  std::string name;
  std::string release;
  DZCrashHostInfoVersion version;
  bool logged;
};

void PrintTo(const ReleaseCase& c, std::ostream* os) {
  *os << c.name;
}

const ReleaseCase kReleaseCases[] = {
    {"distribution kernel", "6.1.0-18-amd64", {6, 1, 0}, false},
    {"plain three numbers", "23.4.0", {23, 4, 0}, false},
    {"two numbers", "6.1", {6, 1, 0}, true},
    {"no number", "linux", {0, 0, 0}, true},
};

class HostRelease : public ::testing::TestWithParam<ReleaseCase> {};

// Runs `child` in a forked process that stops itself once set up, and hands its pid to `parent`
// while it is stopped.
template <class Child, class Parent>
void withStoppedChild(Child child, Parent parent) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    child();
    raise(SIGSTOP);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  EXPECT_TRUE(WIFSTOPPED(status));
  parent(pid);
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

}  // namespace

TEST_P(ValidUtf8, CountsTheValidPrefix) {
  const Utf8Case& c = GetParam();
  const auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.c_str());
  EXPECT_EQ(DZcrash_sysctl_valid_utf8_bytes_max(bytes, c.limit), c.valid);
  if (c.limit == SIZE_MAX) {
    EXPECT_EQ(DZcrash_sysctl_valid_utf8_bytes(bytes), c.valid);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ValidUtf8, ::testing::ValuesIn(kUtf8Cases), quorvelle::test::NamedCase());

TEST(Sysctl, ReadsTheKernelsValuesByDottedName) {
  utsname names;
  ASSERT_EQ(uname(&names), 0);
  char* release = DZcrash_sysctl_string("kernel.osrelease");
  ASSERT_NE(release, nullptr);
  EXPECT_STREQ(release, names.release);
  std::free(release);

  int32_t pidMax = 0;
  ASSERT_TRUE(DZcrash_sysctl_int("kernel.pid_max", &pidMax));
  EXPECT_GT(pidMax, getpid());
  // A text value is not a number.
  EXPECT_FALSE(DZcrash_sysctl_int("kernel.osrelease", &pidMax));
}

TEST(Sysctl, RefusesUnknownNamesAndNamesThatLeaveTheTree) {
  errno = 0;
  EXPECT_EQ(DZcrash_sysctl_string("kernel.no_such_value"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  for (const char* name : {"../self/environ", "kernel/osrelease", ""}) {
    EXPECT_EQ(DZcrash_sysctl_string(name), nullptr) << name;
  }
}

TEST_P(HostRelease, ScansThreeNumbers) {
  const ReleaseCase& c = GetParam();
  CapturedCrashLog log;
  EXPECT_EQ(DZCrashHostInfo::fromRelease(c.release).darwinVersion(), c.version);
  if (c.logged) {
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "[DZCrashReporter] Unexpected kern.osrelease string format: " + c.release});
  } else {
    EXPECT_TRUE(log.lines.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostRelease, ::testing::ValuesIn(kReleaseCases),
                         quorvelle::test::NamedCase());

TEST(HostInfo, ReadsTheRunningKernel) {
  utsname names;
  ASSERT_EQ(uname(&names), 0);
  const auto host = DZCrashHostInfo::currentHostInfo();
  ASSERT_TRUE(host.has_value());
  const DZCrashHostInfoVersion& v = host->darwinVersion();
  EXPECT_EQ(
      std::string(names.release).rfind(std::to_string(v.major) + "." + std::to_string(v.minor) + ".", 0), 0u)
      << names.release;
}

TEST(ProcessInfo, DescribesThisProcess) {
  const auto info = DZCrashProcessInfo::currentProcessInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->processID(), getpid());
  EXPECT_EQ(info->parentProcessID(), getppid());
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  EXPECT_EQ(info->processName(), name);
  EXPECT_FALSE(info->isTraced());
  // This process started before now and after the machine booted.
  const time_t now = time(nullptr);
  EXPECT_LE(info->startTime().tv_sec, now);
  EXPECT_GT(info->startTime().tv_sec, now - 24 * 3600 * 365);
  const auto parent = DZCrashProcessInfo::forProcess(getppid());
  ASSERT_TRUE(parent.has_value());
  EXPECT_LE(parent->startTime().tv_sec, info->startTime().tv_sec);
}

TEST(ProcessInfo, NothingForAProcessThatDoesNotExist) {
  EXPECT_FALSE(DZCrashProcessInfo::forProcess(0).has_value());
  EXPECT_FALSE(DZCrashProcessInfo::forProcess(-1).has_value());
}

TEST(ProcessInfo, KeepsTheValidUtf8PrefixOfTheKernelsName) {
  struct NameCase {
    const char* set;
    std::optional<std::string> expected;
  };
  // The kernel keeps 15 bytes: the last case's "é" is cut after its lead byte.
  const NameCase cases[] = {
      {"ab) (cd", "ab) (cd"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"abcdefghijklmn\xC3\xA9", "abcdefghijklmn"},
      {"\xC3", std::nullopt},
  };
  for (const NameCase& c : cases) {
    withStoppedChild([&] { prctl(PR_SET_NAME, c.set); },
                     [&](pid_t pid) {
                       const auto info = DZCrashProcessInfo::forProcess(pid);
                       ASSERT_TRUE(info.has_value());
                       EXPECT_EQ(info->processName(), c.expected) << c.set;
                       EXPECT_EQ(info->parentProcessID(), getpid());
                     });
  }
}

TEST(ProcessInfo, SeesATracer) {
  withStoppedChild([] { ptrace(PTRACE_TRACEME, 0, nullptr, nullptr); },
                   [](pid_t pid) {
                     const auto info = DZCrashProcessInfo::forProcess(pid);
                     ASSERT_TRUE(info.has_value());
                     EXPECT_TRUE(info->isTraced());
                   });
}
