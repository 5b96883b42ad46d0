#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <string>

#include "DZCrashReporter/core/DZCrashAsyncSignalInfo.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;

namespace {

int gReportFd = -1;

// Writes "<signal name> <code name>" as the crash path would name them, then lets the signal kill the
// process once the faulting instruction runs again.
void nameSignal(int signo, siginfo_t* info, void*) {
  char line[128];
  size_t length = 0;
  auto append = [&](const char* text) {
    if (text == nullptr) text = "(null)";
    while (*text != '\0' && length < sizeof(line) - 1) line[length++] = *text++;
  };
  append(DZcrash_async_signal_signame(signo));
  append(" ");
  append(DZcrash_async_signal_sigcode(signo, info->si_code));
  (void)!write(gReportFd, line, length);
  signal(signo, SIG_DFL);
}

struct Outcome {
  int termSignal;
  std::string report;
};

// Runs `crash` in a child process with the naming handler installed for `signo`.
template <typename Crash>
Outcome crashInChild(int signo, Crash crash) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    gReportFd = fds[1];
    struct sigaction action = {};
    action.sa_sigaction = nameSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(signo, &action, nullptr);
    crash();
    _exit(0);
  }
  close(fds[1]);
  std::string report;
  char buffer[256];
  ssize_t n = 0;
  while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) report.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  return {WIFSIGNALED(status) ? WTERMSIG(status) : 0, report};
}

}  // namespace

#if defined(__x86_64__)

TEST(SignalNamesCrash, IntegerDivideByZeroIsSigfpeIntdiv) {
  const Outcome outcome = crashInChild(SIGFPE, [] {
    int zero = 0;
    int quotient = 7;
    asm volatile("cltd\n\tidivl %1" : "+a"(quotient) : "r"(zero) : "edx");
  });
  EXPECT_EQ(outcome.termSignal, SIGFPE);
  EXPECT_EQ(outcome.report, "SIGFPE FPE_INTDIV");
}

TEST(SignalNamesCrash, IllegalInstructionIsSigillIllopn) {
  const Outcome outcome = crashInChild(SIGILL, [] { asm volatile("ud2"); });
  EXPECT_EQ(outcome.termSignal, SIGILL);
  EXPECT_EQ(outcome.report, "SIGILL ILL_ILLOPN");
}

#endif

TEST(SignalNamesCrash, TouchingATruncatedFileMappingIsSigbusAdrerr) {
  quorvelle::test::TempDir dir;
  const std::string path = (dir / "short").string();
  const Outcome outcome = crashInChild(SIGBUS, [&] {
    const long page = sysconf(_SC_PAGESIZE);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ftruncate(fd, page) != 0) _exit(2);
    void* p = mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) _exit(3);
    // The second page lies past the end of the file.
    (void)*(static_cast<volatile const char*>(p) + page);
  });
  EXPECT_EQ(outcome.termSignal, SIGBUS);
  EXPECT_EQ(outcome.report, "SIGBUS BUS_ADRERR");
}

TEST(SignalNamesCrash, UnmappedAccessIsSigsegvMaperr) {
  const Outcome outcome = crashInChild(SIGSEGV, [] {
    const long page = sysconf(_SC_PAGESIZE);
    void* p = mmap(nullptr, static_cast<size_t>(page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    munmap(p, static_cast<size_t>(page));
    (void)*static_cast<volatile const char*>(p);
  });
  EXPECT_EQ(outcome.termSignal, SIGSEGV);
  EXPECT_EQ(outcome.report, "SIGSEGV SEGV_MAPERR");
}
