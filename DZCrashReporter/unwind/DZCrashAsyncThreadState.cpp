#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

#include "DZCrashReporter/capture/DZCrashThreadCapture.h"

namespace dzcrash {

namespace {

// Callee-saved registers: a frame's callee keeps these, so they survive into the caller's frame.
constexpr uint32_t x86_64_nonvolatile_registers[] = {
    DZCRASH_X86_64_RBX, DZCRASH_X86_64_RSP, DZCRASH_X86_64_RBP, DZCRASH_X86_64_R12,
    DZCRASH_X86_64_R13, DZCRASH_X86_64_R14, DZCRASH_X86_64_R15,
};
constexpr uint32_t x86_32_nonvolatile_registers[] = {
    DZCRASH_X86_EBX, DZCRASH_X86_EBP, DZCRASH_X86_ESI, DZCRASH_X86_EDI, DZCRASH_X86_ESP,
};

struct DwarfRow {
  uint32_t regnum;
  uint64_t dwarf;
};

constexpr DwarfRow x86_64_dwarf_table[] = {
    {DZCRASH_X86_64_RAX, 0},     {DZCRASH_X86_64_RDX, 1},  {DZCRASH_X86_64_RCX, 2},  {DZCRASH_X86_64_RBX, 3},
    {DZCRASH_X86_64_RSI, 4},     {DZCRASH_X86_64_RDI, 5},  {DZCRASH_X86_64_RBP, 6},  {DZCRASH_X86_64_RSP, 7},
    {DZCRASH_X86_64_R8, 8},      {DZCRASH_X86_64_R9, 9},   {DZCRASH_X86_64_R10, 10}, {DZCRASH_X86_64_R11, 11},
    {DZCRASH_X86_64_R12, 12},    {DZCRASH_X86_64_R13, 13}, {DZCRASH_X86_64_R14, 14}, {DZCRASH_X86_64_R15, 15},
    {DZCRASH_X86_64_RFLAGS, 49}, {DZCRASH_X86_64_CS, 51},  {DZCRASH_X86_64_FS, 54},  {DZCRASH_X86_64_GS, 55},
};
static_assert(sizeof(x86_64_dwarf_table) / sizeof(x86_64_dwarf_table[0]) == 20);

constexpr DwarfRow x86_32_dwarf_table[] = {
    {DZCRASH_X86_EAX, 0}, {DZCRASH_X86_ECX, 1}, {DZCRASH_X86_EDX, 2},
    {DZCRASH_X86_EBX, 3}, {DZCRASH_X86_ESP, 4}, {DZCRASH_X86_EBP, 5},
    {DZCRASH_X86_ESI, 6}, {DZCRASH_X86_EDI, 7}, {DZCRASH_X86_EIP, 8},
};

constexpr const char* x86_64_names[DZCRASH_X86_64_REG_COUNT] = {
    "rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx",    "rdi", "rsi", "r8", "r9",
    "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs",
};
constexpr const char* x86_32_names[DZCRASH_X86_REG_COUNT] = {
    "eip", "ebp",    "esp",    "eax", "edx", "ecx", "ebx", "esi",
    "edi", "eflags", "trapno", "cs",  "ds",  "es",  "fs",  "gs",
};

bool is32(const dzcrash_async_thread_state* state) {
  return state->thread.tsh.flavor == DZCRASH_X86_THREAD_STATE32;
}

// Where each walker register number lives in the 64-bit record.
uint64_t* reg64(dzcrash_async_thread_state* state, uint32_t regnum) {
  using T = dzcrash_x86_thread_state64;
  static constexpr uint64_t T::*slots[DZCRASH_X86_64_REG_COUNT] = {
      &T::rip, &T::rbp, &T::rsp, &T::rax, &T::rbx, &T::rcx, &T::rdx,    &T::rdi, &T::rsi, &T::r8, &T::r9,
      &T::r10, &T::r11, &T::r12, &T::r13, &T::r14, &T::r15, &T::rflags, &T::cs,  &T::fs,  &T::gs,
  };
  return &(state->thread.uts.ts64.*slots[regnum]);
}

// The 32-bit record's registers; trapno lives in the exception state and is handled by the callers.
uint32_t* reg32(dzcrash_async_thread_state* state, uint32_t regnum) {
  dzcrash_x86_thread_state32& t = state->thread.uts.ts32;
  uint32_t* const slots[DZCRASH_X86_REG_COUNT] = {
      &t.eip, &t.ebp,    &t.esp,  &t.eax, &t.edx, &t.ecx, &t.ebx, &t.esi,
      &t.edi, &t.eflags, nullptr, &t.cs,  &t.ds,  &t.es,  &t.fs,  &t.gs,
  };
  return slots[regnum];
}

template <size_t N>
constexpr uint64_t maskOf(const uint32_t (&registers)[N]) {
  uint64_t mask = 0;
  for (const uint32_t regnum : registers) mask |= uint64_t{1} << regnum;
  return mask;
}

uint64_t allRegsMask(const dzcrash_async_thread_state* state) {
  return (uint64_t{1} << DZcrash_async_thread_state_get_reg_count(state)) - 1;
}

}  // namespace

dzcrash_error_t DZcrash_async_thread_state_init(dzcrash_async_thread_state* state, uint32_t cpu_type) {
  DZcrash_async_memset(state, 0, sizeof(*state));
  switch (cpu_type) {
    case DZCRASH_CPU_TYPE_X86:
      state->thread.tsh = {DZCRASH_X86_THREAD_STATE32, DZCRASH_X86_THREAD_STATE32_COUNT};
      state->exception.esh = {DZCRASH_X86_EXCEPTION_STATE32, DZCRASH_X86_EXCEPTION_STATE32_COUNT};
      state->greg_size = 4;
      break;
    case DZCRASH_CPU_TYPE_X86_64:
      state->thread.tsh = {DZCRASH_X86_THREAD_STATE64, DZCRASH_X86_THREAD_STATE64_COUNT};
      state->exception.esh = {DZCRASH_X86_EXCEPTION_STATE64, DZCRASH_X86_EXCEPTION_STATE64_COUNT};
      state->greg_size = 8;
      break;
    default:
      return DZCRASH_NOT_SUPPORTED;
  }
  state->stack_direction = DZCRASH_STACK_DIRECTION_DOWN;
  state->valid_regs = 0;
  return DZCRASH_OK;
}

dzcrash_error_t DZcrash_async_thread_state_mcontext_init(dzcrash_async_thread_state* state,
                                                         const mcontext_t* mcontext) {
#if defined(__x86_64__)
  DZcrash_async_thread_state_init(state, DZCRASH_CPU_TYPE_X86_64);
  const greg_t* g = mcontext->gregs;
  auto u = [g](int index) { return static_cast<uint64_t>(g[index]); };
  dzcrash_x86_thread_state64& t = state->thread.uts.ts64;
  t.rax = u(REG_RAX), t.rbx = u(REG_RBX), t.rcx = u(REG_RCX), t.rdx = u(REG_RDX);
  t.rdi = u(REG_RDI), t.rsi = u(REG_RSI), t.rbp = u(REG_RBP), t.rsp = u(REG_RSP);
  t.r8 = u(REG_R8), t.r9 = u(REG_R9), t.r10 = u(REG_R10), t.r11 = u(REG_R11);
  t.r12 = u(REG_R12), t.r13 = u(REG_R13), t.r14 = u(REG_R14), t.r15 = u(REG_R15);
  t.rip = u(REG_RIP), t.rflags = u(REG_EFL);
  // One word holds the selectors: cs, gs and fs, 16 bits each from the low end.
  const uint64_t selectors = u(REG_CSGSFS);
  t.cs = selectors & 0xFFFF;
  t.gs = (selectors >> 16) & 0xFFFF;
  t.fs = (selectors >> 32) & 0xFFFF;
  dzcrash_x86_exception_state64& e = state->exception.ues.es64;
  e.trapno = static_cast<uint16_t>(u(REG_TRAPNO));
  e.cpu = 0;
  e.err = static_cast<uint32_t>(u(REG_ERR));
  e.faultvaddr = u(REG_CR2);
  state->valid_regs = allRegsMask(state);
  return DZCRASH_OK;
#else
  (void)mcontext;
  DZcrash_async_memset(state, 0, sizeof(*state));
  return DZCRASH_NOT_SUPPORTED;
#endif
}

#if defined(__x86_64__)

// The second half of the capture: the assembly routine below has stored the registers into a machine
// context on its own stack; the rest is ordinary code.
extern "C" __attribute__((visibility("hidden"))) dzcrash_error_t DZcrash_async_thread_state_current_stub(
    dzcrash_async_thread_state_current_callback callback, void* context, mcontext_t* mcontext) {
  mcontext->gregs[REG_ERR] = 0;
  mcontext->gregs[REG_TRAPNO] = 0;
  mcontext->gregs[REG_OLDMASK] = 0;
  mcontext->gregs[REG_CR2] = 0;
  mcontext->fpregs = nullptr;
  dzcrash_async_thread_state state;
  DZcrash_async_thread_state_mcontext_init(&state, mcontext);
  return callback(&state, context);
}

dzcrash_error_t DZcrash_async_thread_state_mach_thread_init(dzcrash_async_thread_state* state, pid_t thread) {
  const mcontext_t* parked = DZcrash_async_thread_capture_context(thread);
  if (parked == nullptr) return DZCRASH_INTERNAL;
  return DZcrash_async_thread_state_mcontext_init(state, parked) == DZCRASH_OK ? DZCRASH_OK
                                                                               : DZCRASH_INTERNAL;
}

static_assert(sizeof(mcontext_t) == 256 && alignof(mcontext_t) <= 16);
static_assert(REG_R8 == 0 && REG_R15 == 7 && REG_RDI == 8 && REG_RSI == 9 && REG_RBP == 10 && REG_RBX == 11 &&
              REG_RDX == 12 && REG_RAX == 13 && REG_RCX == 14 && REG_RSP == 15 && REG_RIP == 16 &&
              REG_EFL == 17 && REG_CSGSFS == 18);

// DZcrash_async_thread_state_current(callback, context): stores the registers of its call site into
// a machine context (the gregs array's order: r8-r15, rdi, rsi, rbp, rbx, rdx, rax, rcx, rsp, rip,
// eflags, cs|gs<<16|fs<<32) and hands it to the stub. Every register is stored before any is used.
__asm__(R"(
  .pushsection .text
  .globl DZcrash_async_thread_state_current
  .type DZcrash_async_thread_state_current, @function
  .p2align 4
DZcrash_async_thread_state_current:
  .cfi_startproc
  endbr64
  pushq %rbp
  .cfi_def_cfa_offset 16
  .cfi_offset %rbp, -16
  movq %rsp, %rbp
  .cfi_def_cfa_register %rbp
  subq $256, %rsp
  movq %r8, 0(%rsp)
  movq %r9, 8(%rsp)
  movq %r10, 16(%rsp)
  movq %r11, 24(%rsp)
  movq %r12, 32(%rsp)
  movq %r13, 40(%rsp)
  movq %r14, 48(%rsp)
  movq %r15, 56(%rsp)
  movq %rdi, 64(%rsp)
  movq %rsi, 72(%rsp)
  movq %rbx, 88(%rsp)
  movq %rdx, 96(%rsp)
  movq %rax, 104(%rsp)
  movq %rcx, 112(%rsp)
  movq 0(%rbp), %rax
  movq %rax, 80(%rsp)
  leaq 16(%rbp), %rax
  movq %rax, 120(%rsp)
  movq 8(%rbp), %rax
  movq %rax, 128(%rsp)
  pushfq
  popq %rax
  movq %rax, 136(%rsp)
  xorl %eax, %eax
  movw %fs, %ax
  shlq $16, %rax
  movw %gs, %ax
  shlq $16, %rax
  movw %cs, %ax
  movq %rax, 144(%rsp)
  movq %rsp, %rdx
  call DZcrash_async_thread_state_current_stub
  movq %rbp, %rsp
  popq %rbp
  .cfi_def_cfa %rsp, 8
  ret
  .cfi_endproc
  .size DZcrash_async_thread_state_current, .-DZcrash_async_thread_state_current
  .popsection
)");

#else

extern "C" dzcrash_error_t DZcrash_async_thread_state_current(dzcrash_async_thread_state_current_callback,
                                                              void*) {
  return DZCRASH_NOT_SUPPORTED;
}

#endif

void DZcrash_async_thread_state_copy(dzcrash_async_thread_state* destination,
                                     const dzcrash_async_thread_state* source) {
  DZcrash_async_memcpy(destination, source, sizeof(*destination));
}

bool DZcrash_async_thread_state_has_reg(const dzcrash_async_thread_state* state, uint32_t regnum) {
  return (state->valid_regs & (uint64_t{1} << (regnum % 64))) != 0;
}

void DZcrash_async_thread_state_clear_reg(dzcrash_async_thread_state* state, uint32_t regnum) {
  state->valid_regs &= ~(uint64_t{1} << (regnum % 64));
  if (regnum == DZCRASH_REG_IP) state->ip_is_exact = false;
}

void DZcrash_async_thread_state_clear_all_regs(dzcrash_async_thread_state* state) {
  state->valid_regs = 0;
  state->ip_is_exact = false;
}

void DZcrash_async_thread_state_clear_volatile_regs(dzcrash_async_thread_state* state) {
  // One mask per processor, built once: this runs for every frame of every walk.
  static constexpr uint64_t masks[2] = {maskOf(x86_64_nonvolatile_registers),
                                        maskOf(x86_32_nonvolatile_registers)};
  state->valid_regs &= masks[is32(state) ? 1 : 0];
  state->ip_is_exact = false;
}

uint64_t DZcrash_async_thread_state_get_reg(const dzcrash_async_thread_state* state, uint32_t regnum) {
  if (regnum >= DZcrash_async_thread_state_get_reg_count(state)) return 0;
  auto* mutableState = const_cast<dzcrash_async_thread_state*>(state);
  if (!is32(state)) return *reg64(mutableState, regnum);
  if (regnum == DZCRASH_X86_TRAPNO) return state->exception.ues.es32.trapno;
  return *reg32(mutableState, regnum);
}

void DZcrash_async_thread_state_set_reg(dzcrash_async_thread_state* state, uint32_t regnum, uint64_t value) {
  if (regnum >= DZcrash_async_thread_state_get_reg_count(state)) return;
  if (!is32(state)) {
    *reg64(state, regnum) = value;
  } else if (regnum == DZCRASH_X86_TRAPNO) {
    state->exception.ues.es32.trapno = static_cast<uint16_t>(value);
  } else {
    *reg32(state, regnum) = static_cast<uint32_t>(value);
  }
  state->valid_regs |= uint64_t{1} << regnum;
  if (regnum == DZCRASH_REG_IP) state->ip_is_exact = false;
}

const char* DZcrash_async_thread_state_get_reg_name(const dzcrash_async_thread_state* state,
                                                    uint32_t regnum) {
  if (regnum >= DZcrash_async_thread_state_get_reg_count(state)) return nullptr;
  return is32(state) ? x86_32_names[regnum] : x86_64_names[regnum];
}

size_t DZcrash_async_thread_state_get_reg_count(const dzcrash_async_thread_state* state) {
  return is32(state) ? DZCRASH_X86_REG_COUNT : DZCRASH_X86_64_REG_COUNT;
}

uint32_t DZcrash_async_thread_state_get_stack_direction(const dzcrash_async_thread_state* state) {
  return state->stack_direction;
}

size_t DZcrash_async_thread_state_get_greg_size(const dzcrash_async_thread_state* state) {
  return static_cast<size_t>(state->greg_size);
}

namespace {

// The row whose `from` field equals key; its `to` field goes to out.
template <size_t N, typename From, typename To>
bool findRow(const DwarfRow (&table)[N], From DwarfRow::*from, From key, To DwarfRow::*to, To* out) {
  for (const DwarfRow& row : table) {
    if (row.*from == key) {
      *out = row.*to;
      return true;
    }
  }
  return false;
}

}  // namespace

bool DZcrash_async_thread_state_map_dwarf_to_reg(const dzcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 uint32_t* regnum) {
  return is32(state) ? findRow(x86_32_dwarf_table, &DwarfRow::dwarf, dwarf_reg, &DwarfRow::regnum, regnum)
                     : findRow(x86_64_dwarf_table, &DwarfRow::dwarf, dwarf_reg, &DwarfRow::regnum, regnum);
}

bool DZcrash_async_thread_state_map_reg_to_dwarf(const dzcrash_async_thread_state* state, uint32_t regnum,
                                                 uint64_t* dwarf_reg) {
  return is32(state) ? findRow(x86_32_dwarf_table, &DwarfRow::regnum, regnum, &DwarfRow::dwarf, dwarf_reg)
                     : findRow(x86_64_dwarf_table, &DwarfRow::regnum, regnum, &DwarfRow::dwarf, dwarf_reg);
}

}  // namespace dzcrash
