#pragma once

// Names of signals and signal codes for the report, and the mapping of a Mach exception to the signal
// the kernel of that system would have raised.

#include <csignal>
#include <cstdint>

namespace dzcrash {

// The host's name of a signal number ("SIGSEGV"), or null when it has none. Where two names share a
// number the first listed wins (SIGABRT before SIGIOT). async-signal-safe.
const char* DZcrash_async_signal_signame(int signo);

// The host's name of a signal's code ("SEGV_ACCERR"), or null when the pair is not known. Codes that
// name the sender rather than the cause ("SI_TKILL", "SI_KERNEL"; not SI_USER, which is 0) are named
// for every signal the host names. async-signal-safe.
const char* DZcrash_async_signal_sigcode(int signo, int code);

// Mach exceptions come only from reports written on that system; their numbers, and the signal
// numbers they map to, are that system's and differ from this host's (its SIGBUS is 10, this host's 7).
namespace mach {
constexpr int64_t EXC_BAD_ACCESS = 1;
constexpr int64_t EXC_BAD_INSTRUCTION = 2;
constexpr int64_t EXC_ARITHMETIC = 3;
constexpr int64_t EXC_EMULATION = 4;
constexpr int64_t EXC_SOFTWARE = 5;
constexpr int64_t EXC_BREAKPOINT = 6;
constexpr int64_t KERN_INVALID_ADDRESS = 1;
constexpr int64_t EXC_UNIX_BAD_SYSCALL = 0x10000;
constexpr int64_t EXC_UNIX_BAD_PIPE = 0x10001;
constexpr int64_t EXC_UNIX_ABORT = 0x10002;
constexpr int64_t EXC_SOFT_SIGNAL = 0x10003;

constexpr int DARWIN_SIGILL = 4;
constexpr int DARWIN_SIGTRAP = 5;
constexpr int DARWIN_SIGABRT = 6;
constexpr int DARWIN_SIGEMT = 7;
constexpr int DARWIN_SIGFPE = 8;
constexpr int DARWIN_SIGKILL = 9;
constexpr int DARWIN_SIGBUS = 10;
constexpr int DARWIN_SIGSEGV = 11;
constexpr int DARWIN_SIGSYS = 12;
constexpr int DARWIN_SIGPIPE = 13;
constexpr int DARWIN_SEGV_MAPERR = 1;
constexpr int DARWIN_BUS_ADRERR = 2;
constexpr int DARWIN_TRAP_BRKPT = 1;
}  // namespace mach

// Fills the signal number, code and address (codes[1]) of `siginfo` with the signal a Mach exception
// maps to, in the numbering of namespace mach. False when fewer than two codes are given or the type
// is not one of the six it knows. The cpu type is accepted and not used. async-signal-safe.
bool DZcrash_async_mach_exception_get_siginfo(int64_t exception_type, const int64_t* codes,
                                              uint32_t code_count, int32_t cpu_type, siginfo_t* siginfo);

}  // namespace dzcrash
