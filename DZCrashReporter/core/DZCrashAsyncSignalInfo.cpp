#include "DZCrashReporter/core/DZCrashAsyncSignalInfo.h"

#include <cstddef>

namespace dzcrash {

namespace {

struct SignalName {
  int signo;
  const char* name;
};

struct SignalCode {
  int signo;
  int code;
  const char* name;
};

#define DZCRASH_SIGNAL(name) \
  { name, #name }

// Built from this host's <signal.h>, so every number means what the kernel that raised it meant.
constexpr SignalName kSignalNames[] = {
    DZCRASH_SIGNAL(SIGHUP),    DZCRASH_SIGNAL(SIGINT),  DZCRASH_SIGNAL(SIGQUIT),   DZCRASH_SIGNAL(SIGILL),
    DZCRASH_SIGNAL(SIGTRAP),   DZCRASH_SIGNAL(SIGABRT),
#ifdef SIGIOT
    DZCRASH_SIGNAL(SIGIOT),
#endif
#ifdef SIGEMT
    DZCRASH_SIGNAL(SIGEMT),
#endif
    DZCRASH_SIGNAL(SIGFPE),    DZCRASH_SIGNAL(SIGKILL), DZCRASH_SIGNAL(SIGBUS),    DZCRASH_SIGNAL(SIGSEGV),
    DZCRASH_SIGNAL(SIGSYS),    DZCRASH_SIGNAL(SIGPIPE), DZCRASH_SIGNAL(SIGALRM),   DZCRASH_SIGNAL(SIGTERM),
    DZCRASH_SIGNAL(SIGURG),    DZCRASH_SIGNAL(SIGSTOP), DZCRASH_SIGNAL(SIGTSTP),   DZCRASH_SIGNAL(SIGCONT),
    DZCRASH_SIGNAL(SIGCHLD),   DZCRASH_SIGNAL(SIGTTIN), DZCRASH_SIGNAL(SIGTTOU),   DZCRASH_SIGNAL(SIGIO),
    DZCRASH_SIGNAL(SIGXCPU),   DZCRASH_SIGNAL(SIGXFSZ), DZCRASH_SIGNAL(SIGVTALRM), DZCRASH_SIGNAL(SIGPROF),
    DZCRASH_SIGNAL(SIGWINCH),
#ifdef SIGINFO
    DZCRASH_SIGNAL(SIGINFO),
#endif
    DZCRASH_SIGNAL(SIGUSR1),   DZCRASH_SIGNAL(SIGUSR2),
#ifdef SIGSTKFLT
    DZCRASH_SIGNAL(SIGSTKFLT),
#endif
#ifdef SIGPWR
    DZCRASH_SIGNAL(SIGPWR),
#endif
};

#define DZCRASH_CODE(signo, name) \
  { signo, name, #name }

constexpr SignalCode kSignalCodes[] = {
    {SIGILL, 0, "ILL_NOOP"},
    DZCRASH_CODE(SIGILL, ILL_ILLOPC),
    DZCRASH_CODE(SIGILL, ILL_ILLOPN),
    DZCRASH_CODE(SIGILL, ILL_ILLADR),
    DZCRASH_CODE(SIGILL, ILL_ILLTRP),
    DZCRASH_CODE(SIGILL, ILL_PRVOPC),
    DZCRASH_CODE(SIGILL, ILL_PRVREG),
    DZCRASH_CODE(SIGILL, ILL_COPROC),
    DZCRASH_CODE(SIGILL, ILL_BADSTK),
#ifdef ILL_BADIADDR
    DZCRASH_CODE(SIGILL, ILL_BADIADDR),
#endif

    {SIGFPE, 0, "FPE_NOOP"},
    DZCRASH_CODE(SIGFPE, FPE_INTDIV),
    DZCRASH_CODE(SIGFPE, FPE_INTOVF),
    DZCRASH_CODE(SIGFPE, FPE_FLTDIV),
    DZCRASH_CODE(SIGFPE, FPE_FLTOVF),
    DZCRASH_CODE(SIGFPE, FPE_FLTUND),
    DZCRASH_CODE(SIGFPE, FPE_FLTRES),
    DZCRASH_CODE(SIGFPE, FPE_FLTINV),
    DZCRASH_CODE(SIGFPE, FPE_FLTSUB),
#ifdef FPE_FLTUNK
    DZCRASH_CODE(SIGFPE, FPE_FLTUNK),
#endif
#ifdef FPE_CONDTRAP
    DZCRASH_CODE(SIGFPE, FPE_CONDTRAP),
#endif

    {SIGSEGV, 0, "SEGV_NOOP"},
    DZCRASH_CODE(SIGSEGV, SEGV_MAPERR),
    DZCRASH_CODE(SIGSEGV, SEGV_ACCERR),
#ifdef SEGV_BNDERR
    DZCRASH_CODE(SIGSEGV, SEGV_BNDERR),
#endif
#ifdef SEGV_PKUERR
    DZCRASH_CODE(SIGSEGV, SEGV_PKUERR),
#endif
#ifdef SEGV_ACCADI
    DZCRASH_CODE(SIGSEGV, SEGV_ACCADI),
#endif
#ifdef SEGV_ADIDERR
    DZCRASH_CODE(SIGSEGV, SEGV_ADIDERR),
#endif
#ifdef SEGV_ADIPERR
    DZCRASH_CODE(SIGSEGV, SEGV_ADIPERR),
#endif
#ifdef SEGV_MTEAERR
    DZCRASH_CODE(SIGSEGV, SEGV_MTEAERR),
#endif
#ifdef SEGV_MTESERR
    DZCRASH_CODE(SIGSEGV, SEGV_MTESERR),
#endif

    {SIGBUS, 0, "BUS_NOOP"},
    DZCRASH_CODE(SIGBUS, BUS_ADRALN),
    DZCRASH_CODE(SIGBUS, BUS_ADRERR),
    DZCRASH_CODE(SIGBUS, BUS_OBJERR),
#ifdef BUS_MCEERR_AR
    DZCRASH_CODE(SIGBUS, BUS_MCEERR_AR),
#endif
#ifdef BUS_MCEERR_AO
    DZCRASH_CODE(SIGBUS, BUS_MCEERR_AO),
#endif

    {SIGTRAP, 0, "#0"},
    DZCRASH_CODE(SIGTRAP, TRAP_BRKPT),
    DZCRASH_CODE(SIGTRAP, TRAP_TRACE),
#ifdef TRAP_BRANCH
    DZCRASH_CODE(SIGTRAP, TRAP_BRANCH),
#endif
#ifdef TRAP_HWBKPT
    DZCRASH_CODE(SIGTRAP, TRAP_HWBKPT),
#endif
#ifdef TRAP_UNK
    DZCRASH_CODE(SIGTRAP, TRAP_UNK),
#endif

    {SIGABRT, 0, "#0"},
};

// Codes that say who sent a signal rather than why, the same for every signal: abort() raises SIGABRT
// with SI_TKILL, and an x86 breakpoint arrives as SIGTRAP with SI_KERNEL. Looked at only when the
// signal's own table has no entry for the code.
constexpr SignalCode kSenderCodes[] = {
    DZCRASH_CODE(0, SI_KERNEL),  DZCRASH_CODE(0, SI_QUEUE),   DZCRASH_CODE(0, SI_TIMER),
    DZCRASH_CODE(0, SI_MESGQ),   DZCRASH_CODE(0, SI_ASYNCIO), DZCRASH_CODE(0, SI_SIGIO),
    DZCRASH_CODE(0, SI_TKILL),
#ifdef SI_ASYNCNL
    DZCRASH_CODE(0, SI_ASYNCNL),
#endif
};

#undef DZCRASH_SIGNAL
#undef DZCRASH_CODE

}  // namespace

// async-signal-safe.
const char* DZcrash_async_signal_signame(int signo) {
  for (const SignalName& entry : kSignalNames) {
    if (entry.signo == signo) return entry.name;
  }
  return nullptr;
}

// async-signal-safe.
const char* DZcrash_async_signal_sigcode(int signo, int code) {
  for (const SignalCode& entry : kSignalCodes) {
    if (entry.signo == signo && entry.code == code) return entry.name;
  }
  if (DZcrash_async_signal_signame(signo) == nullptr) return nullptr;
  for (const SignalCode& entry : kSenderCodes) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

// async-signal-safe.
bool DZcrash_async_mach_exception_get_siginfo(int64_t exception_type, const int64_t* codes,
                                              uint32_t code_count, int32_t cpu_type, siginfo_t* siginfo) {
  (void)cpu_type;
  if (codes == nullptr || code_count < 2 || siginfo == nullptr) return false;
  int signo = 0;
  int code = 0;
  switch (exception_type) {
    case mach::EXC_BAD_ACCESS:
      if (codes[0] == mach::KERN_INVALID_ADDRESS) {
        signo = mach::DARWIN_SIGSEGV;
        code = mach::DARWIN_SEGV_MAPERR;
      } else {
        signo = mach::DARWIN_SIGBUS;
        code = mach::DARWIN_BUS_ADRERR;
      }
      break;
    case mach::EXC_BAD_INSTRUCTION:
      signo = mach::DARWIN_SIGILL;
      break;
    case mach::EXC_ARITHMETIC:
      signo = mach::DARWIN_SIGFPE;
      break;
    case mach::EXC_EMULATION:
      signo = mach::DARWIN_SIGEMT;
      break;
    case mach::EXC_SOFTWARE:
      switch (codes[0]) {
        case mach::EXC_UNIX_BAD_SYSCALL:
          signo = mach::DARWIN_SIGSYS;
          break;
        case mach::EXC_UNIX_BAD_PIPE:
          signo = mach::DARWIN_SIGPIPE;
          break;
        case mach::EXC_SOFT_SIGNAL:
          signo = mach::DARWIN_SIGKILL;
          break;
        default:
          signo = mach::DARWIN_SIGABRT;
          break;
      }
      break;
    case mach::EXC_BREAKPOINT:
      signo = mach::DARWIN_SIGTRAP;
      code = mach::DARWIN_TRAP_BRKPT;
      break;
    default:
      return false;
  }
  siginfo->si_signo = signo;
  siginfo->si_code = code;
  siginfo->si_addr = reinterpret_cast<void*>(static_cast<uintptr_t>(codes[1]));
  return true;
}

}  // namespace dzcrash
