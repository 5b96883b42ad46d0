#pragma once

// The register record the stack walker works on: one thread's general registers and its exception
// state, with a mask of the registers whose values are known. The layout is that of the x86 thread
// and exception states of the Mach-O world, because reports and unwind tables of that world number
// registers this way; on this system a record is filled from a signal's machine context or from the
// running thread.
//
// The record covers x86-64 and x86 (32-bit); x86 records are data only (this build captures x86-64
// threads). Every routine here is async-signal-safe: no heap, no locks.

#include <sys/types.h>
#include <sys/ucontext.h>
#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"

namespace dzcrash {

// Processor types as the Mach-O world numbers them (image headers, reports, unwind tables).
constexpr uint32_t DZCRASH_CPU_TYPE_X86 = 7;
constexpr uint32_t DZCRASH_CPU_TYPE_X86_64 = 0x1000007;
constexpr uint32_t DZCRASH_CPU_TYPE_ARM = 12;
constexpr uint32_t DZCRASH_CPU_TYPE_ARM64 = 0x100000c;
constexpr uint32_t DZCRASH_CPU_TYPE_ARM64_32 = 0x200000c;

// Flavors and counts (in 32-bit words) of the state records.
constexpr int32_t DZCRASH_X86_THREAD_STATE32 = 1;
constexpr int32_t DZCRASH_X86_EXCEPTION_STATE32 = 3;
constexpr int32_t DZCRASH_X86_THREAD_STATE64 = 4;
constexpr int32_t DZCRASH_X86_EXCEPTION_STATE64 = 6;
constexpr int32_t DZCRASH_X86_THREAD_STATE32_COUNT = 16;
constexpr int32_t DZCRASH_X86_EXCEPTION_STATE32_COUNT = 3;
constexpr int32_t DZCRASH_X86_THREAD_STATE64_COUNT = 42;
constexpr int32_t DZCRASH_X86_EXCEPTION_STATE64_COUNT = 4;

// Stack growth directions.
constexpr uint32_t DZCRASH_STACK_DIRECTION_UP = 1;
constexpr uint32_t DZCRASH_STACK_DIRECTION_DOWN = 2;

// The walker's register numbers. 0, 1 and 2 are the instruction, frame and stack pointer on every
// processor, so that processor-independent code can use them.
enum dzcrash_regnum_t : uint32_t {
  DZCRASH_REG_IP = 0,
  DZCRASH_REG_FP = 1,
  DZCRASH_REG_SP = 2,

  DZCRASH_X86_64_RIP = 0,
  DZCRASH_X86_64_RBP = 1,
  DZCRASH_X86_64_RSP = 2,
  DZCRASH_X86_64_RAX = 3,
  DZCRASH_X86_64_RBX = 4,
  DZCRASH_X86_64_RCX = 5,
  DZCRASH_X86_64_RDX = 6,
  DZCRASH_X86_64_RDI = 7,
  DZCRASH_X86_64_RSI = 8,
  DZCRASH_X86_64_R8 = 9,
  DZCRASH_X86_64_R9 = 10,
  DZCRASH_X86_64_R10 = 11,
  DZCRASH_X86_64_R11 = 12,
  DZCRASH_X86_64_R12 = 13,
  DZCRASH_X86_64_R13 = 14,
  DZCRASH_X86_64_R14 = 15,
  DZCRASH_X86_64_R15 = 16,
  DZCRASH_X86_64_RFLAGS = 17,
  DZCRASH_X86_64_CS = 18,
  DZCRASH_X86_64_FS = 19,
  DZCRASH_X86_64_GS = 20,
  DZCRASH_X86_64_REG_COUNT = 21,

  DZCRASH_X86_EIP = 0,
  DZCRASH_X86_EBP = 1,
  DZCRASH_X86_ESP = 2,
  DZCRASH_X86_EAX = 3,
  DZCRASH_X86_EDX = 4,
  DZCRASH_X86_ECX = 5,
  DZCRASH_X86_EBX = 6,
  DZCRASH_X86_ESI = 7,
  DZCRASH_X86_EDI = 8,
  DZCRASH_X86_EFLAGS = 9,
  DZCRASH_X86_TRAPNO = 10,
  DZCRASH_X86_CS = 11,
  DZCRASH_X86_DS = 12,
  DZCRASH_X86_ES = 13,
  DZCRASH_X86_FS = 14,
  DZCRASH_X86_GS = 15,
  DZCRASH_X86_REG_COUNT = 16,
};

struct dzcrash_x86_state_hdr {
  int32_t flavor;
  int32_t count;
};

struct dzcrash_x86_thread_state32 {
  uint32_t eax, ebx, ecx, edx, edi, esi, ebp, esp, ss, eflags, eip, cs, ds, es, fs, gs;
};
static_assert(sizeof(dzcrash_x86_thread_state32) == 64);

struct dzcrash_x86_thread_state64 {
  uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp, r8, r9, r10, r11, r12, r13, r14, r15, rip, rflags, cs, fs,
      gs;
};
static_assert(sizeof(dzcrash_x86_thread_state64) == 168);

struct dzcrash_x86_thread_state {
  dzcrash_x86_state_hdr tsh;
  union {
    dzcrash_x86_thread_state32 ts32;
    dzcrash_x86_thread_state64 ts64;
  } uts;
};

struct dzcrash_x86_exception_state32 {
  uint16_t trapno;
  uint16_t cpu;
  uint32_t err;
  uint32_t faultvaddr;
};

struct dzcrash_x86_exception_state64 {
  uint16_t trapno;
  uint16_t cpu;
  uint32_t err;
  uint64_t faultvaddr;
};
static_assert(sizeof(dzcrash_x86_exception_state64) == 16);

struct dzcrash_x86_exception_state {
  dzcrash_x86_state_hdr esh;
  union {
    dzcrash_x86_exception_state32 es32;
    dzcrash_x86_exception_state64 es64;
  } ues;
};

// A plain record, copied by value. The thread-state flavor decides the register set:
// DZCRASH_X86_THREAD_STATE32 means x86, anything else x86-64.
struct dzcrash_async_thread_state {
  // DZCRASH_STACK_DIRECTION_DOWN in every record made here.
  uint32_t stack_direction;
  // General register size in bytes: 4 (x86) or 8 (x86-64).
  uint64_t greg_size;
  // Bit n set: register n holds a known value.
  uint64_t valid_regs;
  dzcrash_x86_thread_state thread;
  dzcrash_x86_exception_state exception;
  // The instruction pointer is where the frame was interrupted (its callee is a signal frame), not a
  // return address, so its own address is the one to look up. Any change to the instruction pointer,
  // or clearing it, resets the flag; the reader that unwinds a signal frame sets it.
  bool ip_is_exact;
};

// Zeroes the record and sets the headers and sizes for the processor. DZCRASH_NOT_SUPPORTED (record
// left zeroed) for any cpu type but x86 and x86-64.
dzcrash_error_t DZcrash_async_thread_state_init(dzcrash_async_thread_state* state, uint32_t cpu_type);

// Fills an x86-64 record from a signal's machine context (the ucontext's uc_mcontext): every general
// register, the flags and segment selectors, and the exception state (trap number, error code and
// fault address from the context's registers). Every register is marked valid. DZCRASH_NOT_SUPPORTED
// on other processors.
dzcrash_error_t DZcrash_async_thread_state_mcontext_init(dzcrash_async_thread_state* state,
                                                         const mcontext_t* mcontext);

// Fills the record of another thread of this process from the machine context it was parked with by
// the running thread capture (DZCrashThreadCapture.h). DZCRASH_INTERNAL when the thread is not parked
// (no capture is running, the thread did not answer, or it is the calling thread).
dzcrash_error_t DZcrash_async_thread_state_mach_thread_init(dzcrash_async_thread_state* state, pid_t thread);

// Called with the captured state, which lives on the capture routine's stack for the call only.
using dzcrash_async_thread_state_current_callback = dzcrash_error_t (*)(dzcrash_async_thread_state* state,
                                                                        void* context);

// Captures the calling thread as it is at the moment of the call and returns what the callback
// returns. The state's first frame is the caller: its instruction pointer is the return address of
// this call, its stack pointer the caller's stack pointer once the call has returned, and its other
// registers those at the call (the exception state is zero). DZCRASH_NOT_SUPPORTED, without calling
// the callback, on processors other than x86-64. Written in machine instructions, since compiled code
// cannot promise the registers of its own call site.
extern "C" dzcrash_error_t DZcrash_async_thread_state_current(
    dzcrash_async_thread_state_current_callback callback, void* context);

void DZcrash_async_thread_state_copy(dzcrash_async_thread_state* destination,
                                     const dzcrash_async_thread_state* source);

// Test / clear bit (regnum mod 64) of the mask.
bool DZcrash_async_thread_state_has_reg(const dzcrash_async_thread_state* state, uint32_t regnum);
void DZcrash_async_thread_state_clear_reg(dzcrash_async_thread_state* state, uint32_t regnum);
void DZcrash_async_thread_state_clear_all_regs(dzcrash_async_thread_state* state);

// Clears every valid register that a callee may change (all but the callee-saved ones); the
// instruction pointer is always cleared.
void DZcrash_async_thread_state_clear_volatile_regs(dzcrash_async_thread_state* state);

// The register's value, zero-extended (x86 trapno is 16 bits). A number at or beyond the register
// count gives 0.
uint64_t DZcrash_async_thread_state_get_reg(const dzcrash_async_thread_state* state, uint32_t regnum);

// Stores the value cut to the register's width and marks it valid. A number at or beyond the register
// count is ignored, so a wrong number can never write outside the record.
void DZcrash_async_thread_state_set_reg(dzcrash_async_thread_state* state, uint32_t regnum, uint64_t value);

// "rip", "eip", ...; null for a number at or beyond the count.
const char* DZcrash_async_thread_state_get_reg_name(const dzcrash_async_thread_state* state, uint32_t regnum);

// 21 (x86-64) or 16 (x86).
size_t DZcrash_async_thread_state_get_reg_count(const dzcrash_async_thread_state* state);

uint32_t DZcrash_async_thread_state_get_stack_direction(const dzcrash_async_thread_state* state);
size_t DZcrash_async_thread_state_get_greg_size(const dzcrash_async_thread_state* state);

// Translation between DWARF register numbers and the walker's numbers for the record's processor.
// False when the processor's table has no row (the x86-64 instruction pointer has no DWARF number).
bool DZcrash_async_thread_state_map_dwarf_to_reg(const dzcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 uint32_t* regnum);
bool DZcrash_async_thread_state_map_reg_to_dwarf(const dzcrash_async_thread_state* state, uint32_t regnum,
                                                 uint64_t* dwarf_reg);

}  // namespace dzcrash
