// Shows what the crash reporter's checked reads answer for a readable, a PROT_NONE and an unmapped
// page of this process, and how it names a few real signals raised in child processes.

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncSignalInfo.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

using namespace dzcrash;

namespace {

int gPipe = -1;

void nameSignal(int signo, siginfo_t* info, void*) {
  char line[96];
  size_t n = 0;
  for (const char* part :
       {DZcrash_async_signal_signame(signo), " ", DZcrash_async_signal_sigcode(signo, info->si_code)}) {
    for (const char* c = part != nullptr ? part : "(unknown)"; *c != '\0' && n < sizeof(line); ++c)
      line[n++] = *c;
  }
  (void)!write(gPipe, line, n);
  signal(signo, SIG_DFL);
}

void probeRead(const char* label, uint64_t address) {
  uint8_t byte = 0;
  const dzcrash_error_t err = DZcrash_async_task_read_uint8(DZcrash_async_task_self(), address, 0, &byte);
  std::printf("%-10s page 0x%016llx: %s", label, static_cast<unsigned long long>(address),
              DZcrash_async_strerror(err));
  if (err == DZCRASH_OK) std::printf(" (byte 0x%02x)", byte);
  std::printf("\n");
}

void probeSignal(const char* what, int signo, void (*crash)()) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    gPipe = fds[1];
    struct sigaction action = {};
    action.sa_sigaction = nameSignal;
    action.sa_flags = SA_SIGINFO;
    sigaction(signo, &action, nullptr);
    crash();
    _exit(0);
  }
  close(fds[1]);
  char named[96] = {};
  const ssize_t n = read(fds[0], named, sizeof(named) - 1);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::printf("%-22s -> %s (signal %d, child ended by %s)\n", what, n > 0 ? named : "(nothing)", signo,
              WIFSIGNALED(status) ? DZcrash_async_signal_signame(WTERMSIG(status)) : "exit");
}

}  // namespace

int main() {
  const long page = sysconf(_SC_PAGESIZE);
  auto* base = static_cast<uint8_t*>(mmap(nullptr, static_cast<size_t>(3 * page), PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (base == MAP_FAILED) return 1;
  base[0] = 0x2a;
  mprotect(base + page, static_cast<size_t>(page), PROT_NONE);
  munmap(base + 2 * page, static_cast<size_t>(page));
  probeRead("readable", reinterpret_cast<uint64_t>(base));
  probeRead("PROT_NONE", reinterpret_cast<uint64_t>(base + page));
  probeRead("unmapped", reinterpret_cast<uint64_t>(base + 2 * page));

  std::printf("\n");
#if defined(__x86_64__)
  probeSignal("integer divide by zero", SIGFPE, [] {
    int zero = 0;
    int quotient = 7;
    asm volatile("cltd\n\tidivl %1" : "+a"(quotient) : "r"(zero) : "edx");
  });
  probeSignal("illegal instruction", SIGILL, [] { asm volatile("ud2"); });
#endif
  probeSignal("unmapped access", SIGSEGV, [] {
    // Through a volatile so the optimiser cannot prove the access out of bounds at compile time.
    volatile uintptr_t address = 16;
    (void)*reinterpret_cast<volatile const char*>(address);
  });
  probeSignal("abort", SIGABRT, [] { std::abort(); });
  return 0;
}
