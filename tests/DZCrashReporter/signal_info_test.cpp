#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsyncSignalInfo.h"

using namespace dzcrash;

TEST(SignalInfo, NamesFollowThisHostsNumbering) {
  struct Case {
    int signo;
    const char* name;
  };
  for (const Case& c : {Case{SIGABRT, "SIGABRT"}, Case{SIGBUS, "SIGBUS"}, Case{SIGSEGV, "SIGSEGV"},
                        Case{SIGSYS, "SIGSYS"}, Case{SIGUSR1, "SIGUSR1"}, Case{SIGIO, "SIGIO"},
                        Case{SIGCHLD, "SIGCHLD"}, Case{SIGSTKFLT, "SIGSTKFLT"}, Case{SIGPWR, "SIGPWR"}}) {
    EXPECT_STREQ(DZcrash_async_signal_signame(c.signo), c.name) << c.signo;
  }
  // Numbers this host does not use, and the other system's names that this host lacks.
  EXPECT_EQ(DZcrash_async_signal_signame(0), nullptr);
  EXPECT_EQ(DZcrash_async_signal_signame(SIGRTMIN), nullptr);
  EXPECT_EQ(DZcrash_async_signal_signame(999), nullptr);
}

TEST(SignalInfo, CodesFollowThisHostsNumbering) {
  struct Case {
    int signo;
    int code;
    const char* name;
  };
  const Case cases[] = {
      {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
      {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
      {SIGSEGV, 0, "SEGV_NOOP"},
      {SIGSEGV, 99, nullptr},
      {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},
      {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV"},
      {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},
      {SIGILL, 0, "ILL_NOOP"},
      {SIGBUS, BUS_ADRERR, "BUS_ADRERR"},
      {SIGBUS, BUS_MCEERR_AR, "BUS_MCEERR_AR"},
      {SIGTRAP, 0, "#0"},
      {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"},
      {SIGABRT, 0, "#0"},
      {SIGABRT, 1, nullptr},
      {SIGTERM, 0, nullptr},
      // Sender codes: abort(), a breakpoint instruction, sigqueue(); a signal the host does not name.
      {SIGABRT, SI_TKILL, "SI_TKILL"},
      {SIGTRAP, SI_KERNEL, "SI_KERNEL"},
      {SIGUSR1, SI_QUEUE, "SI_QUEUE"},
      {999, SI_TKILL, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(DZcrash_async_signal_sigcode(c.signo, c.code), c.name) << c.signo << "/" << c.code;
  }
}

TEST(SignalInfo, MachExceptionsMapToThatSystemsSignals) {
  struct Case {
    int64_t type;
    int64_t code0;
    int signo;
    int code;
  };
  const Case cases[] = {
      {mach::EXC_BAD_ACCESS, 1, mach::DARWIN_SIGSEGV, mach::DARWIN_SEGV_MAPERR},
      {mach::EXC_BAD_ACCESS, 2, mach::DARWIN_SIGBUS, mach::DARWIN_BUS_ADRERR},
      {mach::EXC_BAD_INSTRUCTION, 1, mach::DARWIN_SIGILL, 0},
      {mach::EXC_ARITHMETIC, 1, mach::DARWIN_SIGFPE, 0},
      {mach::EXC_EMULATION, 0, mach::DARWIN_SIGEMT, 0},
      {mach::EXC_SOFTWARE, 0x10000, mach::DARWIN_SIGSYS, 0},
      {mach::EXC_SOFTWARE, 0x10001, mach::DARWIN_SIGPIPE, 0},
      {mach::EXC_SOFTWARE, 0x10002, mach::DARWIN_SIGABRT, 0},
      {mach::EXC_SOFTWARE, 0x10003, mach::DARWIN_SIGKILL, 0},
      {mach::EXC_SOFTWARE, 7, mach::DARWIN_SIGABRT, 0},
      {mach::EXC_BREAKPOINT, 1, mach::DARWIN_SIGTRAP, mach::DARWIN_TRAP_BRKPT},
  };
  for (const Case& c : cases) {
    const int64_t codes[] = {c.code0, 0x1234};
    siginfo_t info = {};
    ASSERT_TRUE(DZcrash_async_mach_exception_get_siginfo(c.type, codes, 2, 0, &info)) << c.type;
    EXPECT_EQ(info.si_signo, c.signo) << c.type << "/" << c.code0;
    EXPECT_EQ(info.si_code, c.code) << c.type << "/" << c.code0;
    EXPECT_EQ(info.si_addr, reinterpret_cast<void*>(0x1234));
  }
  const int64_t codes[] = {1, 0};
  siginfo_t info = {};
  EXPECT_FALSE(DZcrash_async_mach_exception_get_siginfo(mach::EXC_BAD_ACCESS, codes, 1, 0, &info));
  EXPECT_FALSE(DZcrash_async_mach_exception_get_siginfo(0, codes, 2, 0, &info));
  EXPECT_FALSE(DZcrash_async_mach_exception_get_siginfo(7, codes, 2, 0, &info));
}
