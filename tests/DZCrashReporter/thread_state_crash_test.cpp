#include <gtest/gtest.h>

#include <sys/ucontext.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdint>
#include <cstring>

#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

using namespace dzcrash;

#if defined(__x86_64__)

namespace {

// Loads a known value into every general register but rsp and reads from address 0x18, which is never
// mapped: a page fault at a known instruction.
extern "C" void dz_test_fault_with_known_registers();
extern "C" char dz_test_fault_ip[];
__asm__(R"(
  .pushsection .text
  .globl dz_test_fault_with_known_registers
  .globl dz_test_fault_ip
  .type dz_test_fault_with_known_registers, @function
dz_test_fault_with_known_registers:
  movabsq $0xa0a0a0a0a0a0a0a0, %rax
  movabsq $0x0101010101010101, %rbx
  movabsq $0xc0c0c0c0c0c0c0c0, %rcx
  movabsq $0xd0d0d0d0d0d0d0d0, %rdx
  movabsq $0x5151515151515151, %rsi
  movabsq $0xd1d1d1d1d1d1d1d1, %rdi
  movabsq $0x6b6b6b6b6b6b6b6b, %rbp
  movabsq $0x0808080808080808, %r8
  movabsq $0x0909090909090909, %r9
  movabsq $0x1010101010101010, %r10
  movq $0x18, %r11
  movabsq $0x1212121212121212, %r12
  movabsq $0x1313131313131313, %r13
  movabsq $0x1414141414141414, %r14
  movabsq $0x1515151515151515, %r15
dz_test_fault_ip:
  movq (%r11), %rax
  ud2
  .size dz_test_fault_with_known_registers, .-dz_test_fault_with_known_registers
  .popsection
)");

struct Report {
  greg_t gregs[NGREG];
  dzcrash_async_thread_state state;
  dzcrash_error_t result;
};

int gReportFd = -1;

void reportContext(int, siginfo_t*, void* context) {
  Report report;
  const auto* uc = static_cast<const ucontext_t*>(context);
  std::memcpy(report.gregs, uc->uc_mcontext.gregs, sizeof(report.gregs));
  report.result = DZcrash_async_thread_state_mcontext_init(&report.state, &uc->uc_mcontext);
  (void)!write(gReportFd, &report, sizeof(report));
  _exit(0);
}

}  // namespace

TEST(ThreadStateCrash, SignalContextFillsTheStateRegisterByRegister) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    gReportFd = fds[1];
    struct sigaction action = {};
    action.sa_sigaction = reportContext;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, nullptr);
    dz_test_fault_with_known_registers();
    _exit(1);
  }
  close(fds[1]);
  Report report;
  size_t got = 0;
  ssize_t n = 0;
  while (got < sizeof(report) &&
         (n = read(fds[0], reinterpret_cast<char*>(&report) + got, sizeof(report) - got)) > 0) {
    got += static_cast<size_t>(n);
  }
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(got, sizeof(report));
  ASSERT_EQ(report.result, DZCRASH_OK);

  const dzcrash_async_thread_state& s = report.state;
  auto reg = [&](uint32_t r) { return DZcrash_async_thread_state_get_reg(&s, r); };
  struct Pair {
    uint32_t regnum;
    int greg;
  };
  const Pair pairs[] = {
      {DZCRASH_X86_64_RIP, REG_RIP}, {DZCRASH_X86_64_RBP, REG_RBP}, {DZCRASH_X86_64_RSP, REG_RSP},
      {DZCRASH_X86_64_RAX, REG_RAX}, {DZCRASH_X86_64_RBX, REG_RBX}, {DZCRASH_X86_64_RCX, REG_RCX},
      {DZCRASH_X86_64_RDX, REG_RDX}, {DZCRASH_X86_64_RDI, REG_RDI}, {DZCRASH_X86_64_RSI, REG_RSI},
      {DZCRASH_X86_64_R8, REG_R8},   {DZCRASH_X86_64_R9, REG_R9},   {DZCRASH_X86_64_R10, REG_R10},
      {DZCRASH_X86_64_R11, REG_R11}, {DZCRASH_X86_64_R12, REG_R12}, {DZCRASH_X86_64_R13, REG_R13},
      {DZCRASH_X86_64_R14, REG_R14}, {DZCRASH_X86_64_R15, REG_R15}, {DZCRASH_X86_64_RFLAGS, REG_EFL},
  };
  for (const Pair& p : pairs) {
    EXPECT_TRUE(DZcrash_async_thread_state_has_reg(&s, p.regnum));
    EXPECT_EQ(reg(p.regnum), static_cast<uint64_t>(report.gregs[p.greg]))
        << DZcrash_async_thread_state_get_reg_name(&s, p.regnum);
  }
  const auto selectors = static_cast<uint64_t>(report.gregs[REG_CSGSFS]);
  EXPECT_EQ(reg(DZCRASH_X86_64_CS), selectors & 0xFFFF);
  EXPECT_EQ(reg(DZCRASH_X86_64_GS), (selectors >> 16) & 0xFFFF);
  EXPECT_EQ(reg(DZCRASH_X86_64_FS), (selectors >> 32) & 0xFFFF);
  uint16_t cs = 0;
  asm("movw %%cs, %0" : "=r"(cs));
  EXPECT_EQ(reg(DZCRASH_X86_64_CS), cs);

  // What the faulting routine set up.
  EXPECT_EQ(reg(DZCRASH_X86_64_RIP), reinterpret_cast<uint64_t>(dz_test_fault_ip));
  EXPECT_EQ(reg(DZCRASH_X86_64_RAX), 0xa0a0a0a0a0a0a0a0u);
  EXPECT_EQ(reg(DZCRASH_X86_64_RBX), 0x0101010101010101u);
  EXPECT_EQ(reg(DZCRASH_X86_64_RBP), 0x6b6b6b6b6b6b6b6bu);
  EXPECT_EQ(reg(DZCRASH_X86_64_RDI), 0xd1d1d1d1d1d1d1d1u);
  EXPECT_EQ(reg(DZCRASH_X86_64_R15), 0x1515151515151515u);
  // Page fault (trap 14) on a user-mode read of a page that is not present (error code 4).
  EXPECT_EQ(s.exception.esh.flavor, DZCRASH_X86_EXCEPTION_STATE64);
  EXPECT_EQ(s.exception.ues.es64.trapno, 14);
  EXPECT_EQ(s.exception.ues.es64.err, 4u);
  EXPECT_EQ(s.exception.ues.es64.faultvaddr, 0x18u);
}

#endif
