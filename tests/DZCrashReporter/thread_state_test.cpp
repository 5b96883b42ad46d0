#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

using namespace dzcrash;

namespace {

dzcrash_async_thread_state makeState(uint32_t cpuType) {
  dzcrash_async_thread_state state;
  EXPECT_EQ(DZcrash_async_thread_state_init(&state, cpuType), DZCRASH_OK);
  return state;
}

std::vector<uint32_t> validRegs(const dzcrash_async_thread_state& state) {
  std::vector<uint32_t> out;
  for (uint32_t r = 0; r < 64; ++r) {
    if (DZcrash_async_thread_state_has_reg(&state, r)) out.push_back(r);
  }
  return out;
}

}  // namespace

TEST(ThreadState, InitSetsHeadersAndRefusesOtherProcessors) {
  const dzcrash_async_thread_state x64 = makeState(DZCRASH_CPU_TYPE_X86_64);
  EXPECT_EQ(x64.thread.tsh.flavor, 4);
  EXPECT_EQ(x64.thread.tsh.count, 42);
  EXPECT_EQ(x64.exception.esh.flavor, 6);
  EXPECT_EQ(x64.exception.esh.count, 4);
  EXPECT_EQ(DZcrash_async_thread_state_get_greg_size(&x64), 8u);
  EXPECT_EQ(DZcrash_async_thread_state_get_stack_direction(&x64), DZCRASH_STACK_DIRECTION_DOWN);
  EXPECT_EQ(x64.valid_regs, 0u);

  const dzcrash_async_thread_state x86 = makeState(DZCRASH_CPU_TYPE_X86);
  EXPECT_EQ(x86.thread.tsh.flavor, 1);
  EXPECT_EQ(x86.thread.tsh.count, 16);
  EXPECT_EQ(x86.exception.esh.flavor, 3);
  EXPECT_EQ(x86.exception.esh.count, 3);
  EXPECT_EQ(DZcrash_async_thread_state_get_greg_size(&x86), 4u);

  for (const uint32_t cpu : {DZCRASH_CPU_TYPE_ARM64, DZCRASH_CPU_TYPE_ARM, DZCRASH_CPU_TYPE_ARM64_32, 0u}) {
    dzcrash_async_thread_state state;
    state.greg_size = 99;
    EXPECT_EQ(DZcrash_async_thread_state_init(&state, cpu), DZCRASH_NOT_SUPPORTED) << cpu;
    EXPECT_EQ(state.greg_size, 0u) << "left zeroed";
  }
}

TEST(ThreadState, RegisterNumbersNamesAndStorage) {
  // Each number's name and the Mach record field it lands in.
  dzcrash_async_thread_state x64 = makeState(DZCRASH_CPU_TYPE_X86_64);
  const char* names64[] = {"rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx",    "rdi", "rsi", "r8", "r9",
                           "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs"};
  ASSERT_EQ(DZcrash_async_thread_state_get_reg_count(&x64), 21u);
  for (uint32_t r = 0; r < 21; ++r) {
    EXPECT_STREQ(DZcrash_async_thread_state_get_reg_name(&x64, r), names64[r]);
    DZcrash_async_thread_state_set_reg(&x64, r, 0x1000 + r);
  }
  const dzcrash_x86_thread_state64& t = x64.thread.uts.ts64;
  const uint64_t fields[] = {t.rip, t.rbp, t.rsp, t.rax, t.rbx, t.rcx, t.rdx,    t.rdi, t.rsi, t.r8, t.r9,
                             t.r10, t.r11, t.r12, t.r13, t.r14, t.r15, t.rflags, t.cs,  t.fs,  t.gs};
  for (uint32_t r = 0; r < 21; ++r) EXPECT_EQ(fields[r], 0x1000u + r) << names64[r];
  EXPECT_EQ(x64.valid_regs, (uint64_t{1} << 21) - 1);

  dzcrash_async_thread_state x86 = makeState(DZCRASH_CPU_TYPE_X86);
  const char* names32[] = {"eip", "ebp",    "esp",    "eax", "edx", "ecx", "ebx", "esi",
                           "edi", "eflags", "trapno", "cs",  "ds",  "es",  "fs",  "gs"};
  ASSERT_EQ(DZcrash_async_thread_state_get_reg_count(&x86), 16u);
  for (uint32_t r = 0; r < 16; ++r) {
    EXPECT_STREQ(DZcrash_async_thread_state_get_reg_name(&x86, r), names32[r]);
    // Stored cut to the register's width: 32 bits, trapno 16.
    DZcrash_async_thread_state_set_reg(&x86, r, 0xABCD00000000F000ull + r);
    EXPECT_EQ(DZcrash_async_thread_state_get_reg(&x86, r), r == 10 ? 0xF00Au : 0xF000u + r) << names32[r];
  }
  const dzcrash_x86_thread_state32& s = x86.thread.uts.ts32;
  EXPECT_EQ(s.eip, 0xF000u);
  EXPECT_EQ(s.edx, 0xF004u);
  EXPECT_EQ(s.ebx, 0xF006u);
  EXPECT_EQ(s.esi, 0xF007u);
  EXPECT_EQ(s.edi, 0xF008u);
  EXPECT_EQ(x86.exception.ues.es32.trapno, 0xF00Au);
  EXPECT_EQ(s.ss, 0u) << "ss has no number";

  // Numbers beyond the count are refused without touching the record.
  const dzcrash_async_thread_state before = x86;
  DZcrash_async_thread_state_set_reg(&x86, 16, 1);
  DZcrash_async_thread_state_set_reg(&x86, 63, 1);
  EXPECT_EQ(std::memcmp(&before, &x86, sizeof(x86)), 0);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&x86, 16), 0u);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg_name(&x86, 16), nullptr);
}

TEST(ThreadState, MaskOperationsAndVolatileRegisters) {
  dzcrash_async_thread_state x64 = makeState(DZCRASH_CPU_TYPE_X86_64);
  for (uint32_t r = 0; r < 21; ++r) DZcrash_async_thread_state_set_reg(&x64, r, r);
  DZcrash_async_thread_state_clear_volatile_regs(&x64);
  EXPECT_EQ(validRegs(x64), (std::vector<uint32_t>{DZCRASH_X86_64_RBP, DZCRASH_X86_64_RSP, DZCRASH_X86_64_RBX,
                                                   DZCRASH_X86_64_R12, DZCRASH_X86_64_R13, DZCRASH_X86_64_R14,
                                                   DZCRASH_X86_64_R15}));

  dzcrash_async_thread_state x86 = makeState(DZCRASH_CPU_TYPE_X86);
  for (uint32_t r = 0; r < 16; ++r) DZcrash_async_thread_state_set_reg(&x86, r, r);
  DZcrash_async_thread_state_clear_volatile_regs(&x86);
  EXPECT_EQ(validRegs(x86), (std::vector<uint32_t>{DZCRASH_X86_EBP, DZCRASH_X86_ESP, DZCRASH_X86_EBX,
                                                   DZCRASH_X86_ESI, DZCRASH_X86_EDI}));

  // The mask is indexed modulo 64.
  DZcrash_async_thread_state_clear_all_regs(&x64);
  x64.valid_regs = uint64_t{1} << 3;
  EXPECT_TRUE(DZcrash_async_thread_state_has_reg(&x64, 67));
  DZcrash_async_thread_state_clear_reg(&x64, 67);
  EXPECT_EQ(x64.valid_regs, 0u);

  dzcrash_async_thread_state copy;
  DZcrash_async_thread_state_copy(&copy, &x86);
  EXPECT_EQ(std::memcmp(&copy, &x86, sizeof(copy)), 0);
}

TEST(ThreadState, DwarfRegisterTables) {
  struct Row {
    uint32_t regnum;
    uint64_t dwarf;
  };
  const dzcrash_async_thread_state x64 = makeState(DZCRASH_CPU_TYPE_X86_64);
  const Row rows64[] = {{DZCRASH_X86_64_RAX, 0},  {DZCRASH_X86_64_RDX, 1},     {DZCRASH_X86_64_RCX, 2},
                        {DZCRASH_X86_64_RBX, 3},  {DZCRASH_X86_64_RSI, 4},     {DZCRASH_X86_64_RDI, 5},
                        {DZCRASH_X86_64_RBP, 6},  {DZCRASH_X86_64_RSP, 7},     {DZCRASH_X86_64_R8, 8},
                        {DZCRASH_X86_64_R15, 15}, {DZCRASH_X86_64_RFLAGS, 49}, {DZCRASH_X86_64_CS, 51},
                        {DZCRASH_X86_64_FS, 54},  {DZCRASH_X86_64_GS, 55}};
  for (const Row& row : rows64) {
    uint32_t regnum = 99;
    uint64_t dwarf = 99;
    EXPECT_TRUE(DZcrash_async_thread_state_map_dwarf_to_reg(&x64, row.dwarf, &regnum));
    EXPECT_EQ(regnum, row.regnum);
    EXPECT_TRUE(DZcrash_async_thread_state_map_reg_to_dwarf(&x64, row.regnum, &dwarf));
    EXPECT_EQ(dwarf, row.dwarf);
  }
  uint32_t regnum = 0;
  uint64_t dwarf = 0;
  // DWARF 16 is the return-address column: no register of the record.
  EXPECT_FALSE(DZcrash_async_thread_state_map_dwarf_to_reg(&x64, 16, &regnum));
  EXPECT_FALSE(DZcrash_async_thread_state_map_reg_to_dwarf(&x64, DZCRASH_X86_64_RIP, &dwarf));

  const dzcrash_async_thread_state x86 = makeState(DZCRASH_CPU_TYPE_X86);
  const Row rows32[] = {{DZCRASH_X86_EAX, 0}, {DZCRASH_X86_ECX, 1}, {DZCRASH_X86_EDX, 2},
                        {DZCRASH_X86_EBX, 3}, {DZCRASH_X86_ESP, 4}, {DZCRASH_X86_EBP, 5},
                        {DZCRASH_X86_ESI, 6}, {DZCRASH_X86_EDI, 7}, {DZCRASH_X86_EIP, 8}};
  for (const Row& row : rows32) {
    EXPECT_TRUE(DZcrash_async_thread_state_map_dwarf_to_reg(&x86, row.dwarf, &regnum));
    EXPECT_EQ(regnum, row.regnum);
    EXPECT_TRUE(DZcrash_async_thread_state_map_reg_to_dwarf(&x86, row.regnum, &dwarf));
    EXPECT_EQ(dwarf, row.dwarf);
  }
  EXPECT_FALSE(DZcrash_async_thread_state_map_dwarf_to_reg(&x86, 9, &regnum));
  EXPECT_FALSE(DZcrash_async_thread_state_map_reg_to_dwarf(&x86, DZCRASH_X86_EFLAGS, &dwarf));
}

#if defined(__x86_64__)

// Loads known values into the callee-saved registers and the frame pointer, records its stack pointer
// at the call and calls the capture with its own two arguments.
extern "C" uint64_t dz_test_capture_rsp;
uint64_t dz_test_capture_rsp = 0;
extern "C" int dz_test_capture_probe(dzcrash_async_thread_state_current_callback callback, void* context);
extern "C" char dz_test_capture_return[];
__asm__(R"(
  .pushsection .text
  .globl dz_test_capture_probe
  .globl dz_test_capture_return
  .type dz_test_capture_probe, @function
dz_test_capture_probe:
  pushq %rbp
  pushq %rbx
  pushq %r12
  pushq %r13
  pushq %r14
  pushq %r15
  movabsq $0x0101010101010101, %rbx
  movabsq $0x1212121212121212, %r12
  movabsq $0x1313131313131313, %r13
  movabsq $0x1414141414141414, %r14
  movabsq $0x1515151515151515, %r15
  movabsq $0x6b6b6b6b6b6b6b6b, %rbp
  subq $8, %rsp
  movq %rsp, dz_test_capture_rsp(%rip)
  call DZcrash_async_thread_state_current@PLT
dz_test_capture_return:
  addq $8, %rsp
  popq %r15
  popq %r14
  popq %r13
  popq %r12
  popq %rbx
  popq %rbp
  ret
  .size dz_test_capture_probe, .-dz_test_capture_probe
  .popsection
)");

TEST(ThreadState, CaptureDescribesTheCallersFrameAtTheCall) {
  struct Seen {
    dzcrash_async_thread_state state;
    int calls = 0;
  } seen;
  auto callback = [](dzcrash_async_thread_state* state, void* context) {
    auto* out = static_cast<Seen*>(context);
    out->state = *state;
    ++out->calls;
    return DZCRASH_OUTPUT_FAILED;
  };
  EXPECT_EQ(dz_test_capture_probe(callback, &seen), DZCRASH_OUTPUT_FAILED) << "the callback's result";
  ASSERT_EQ(seen.calls, 1);

  const dzcrash_async_thread_state& s = seen.state;
  EXPECT_EQ(s.thread.tsh.flavor, DZCRASH_X86_THREAD_STATE64);
  EXPECT_EQ(s.valid_regs, (uint64_t{1} << 21) - 1);
  auto reg = [&](uint32_t r) { return DZcrash_async_thread_state_get_reg(&s, r); };
  EXPECT_EQ(reg(DZCRASH_X86_64_RIP), reinterpret_cast<uint64_t>(dz_test_capture_return));
  EXPECT_EQ(reg(DZCRASH_X86_64_RSP), dz_test_capture_rsp);
  EXPECT_EQ(reg(DZCRASH_X86_64_RBP), 0x6b6b6b6b6b6b6b6bu);
  EXPECT_EQ(reg(DZCRASH_X86_64_RBX), 0x0101010101010101u);
  EXPECT_EQ(reg(DZCRASH_X86_64_R12), 0x1212121212121212u);
  EXPECT_EQ(reg(DZCRASH_X86_64_R13), 0x1313131313131313u);
  EXPECT_EQ(reg(DZCRASH_X86_64_R14), 0x1414141414141414u);
  EXPECT_EQ(reg(DZCRASH_X86_64_R15), 0x1515151515151515u);
  // The arguments as they were at the call.
  EXPECT_EQ(reg(DZCRASH_X86_64_RSI), reinterpret_cast<uint64_t>(&seen));
  uint16_t cs = 0;
  asm("movw %%cs, %0" : "=r"(cs));
  EXPECT_EQ(reg(DZCRASH_X86_64_CS), cs);
  EXPECT_NE(reg(DZCRASH_X86_64_RFLAGS) & 0x2, 0u) << "bit 1 of the flags is always set";
  EXPECT_EQ(s.exception.ues.es64.trapno, 0);
  EXPECT_EQ(s.exception.ues.es64.faultvaddr, 0u);
}

#endif
