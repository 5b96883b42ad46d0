#pragma once

// The DWARF expression evaluator that call-frame rules need: a stack machine over words of the image's
// width, with register reads from a thread state and memory reads through the task. Expressions that
// name pieces, calls, frame bases or register locations are not part of call-frame information and
// are refused. The stack (100 words) lives on the caller's stack; async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

namespace dzcrash::async {

enum dzcrash_dwarf_op : uint8_t {
  DW_OP_deref = 0x06,
  DW_OP_const1u = 0x08,
  DW_OP_const1s = 0x09,
  DW_OP_const2u = 0x0A,
  DW_OP_const2s = 0x0B,
  DW_OP_const4u = 0x0C,
  DW_OP_const4s = 0x0D,
  DW_OP_const8u = 0x0E,
  DW_OP_const8s = 0x0F,
  DW_OP_constu = 0x10,
  DW_OP_consts = 0x11,
  DW_OP_dup = 0x12,
  DW_OP_drop = 0x13,
  DW_OP_over = 0x14,
  DW_OP_pick = 0x15,
  DW_OP_swap = 0x16,
  DW_OP_rot = 0x17,
  DW_OP_xderef = 0x18,
  DW_OP_abs = 0x19,
  DW_OP_and = 0x1A,
  DW_OP_div = 0x1B,
  DW_OP_minus = 0x1C,
  DW_OP_mod = 0x1D,
  DW_OP_mul = 0x1E,
  DW_OP_neg = 0x1F,
  DW_OP_not = 0x20,
  DW_OP_or = 0x21,
  DW_OP_plus = 0x22,
  DW_OP_plus_uconst = 0x23,
  DW_OP_shl = 0x24,
  DW_OP_shr = 0x25,
  DW_OP_shra = 0x26,
  DW_OP_xor = 0x27,
  DW_OP_bra = 0x28,
  DW_OP_eq = 0x29,
  DW_OP_ge = 0x2A,
  DW_OP_gt = 0x2B,
  DW_OP_le = 0x2C,
  DW_OP_lt = 0x2D,
  DW_OP_ne = 0x2E,
  DW_OP_skip = 0x2F,
  DW_OP_lit0 = 0x30,
  DW_OP_lit31 = 0x4F,
  DW_OP_reg0 = 0x50,
  DW_OP_breg0 = 0x70,
  DW_OP_breg31 = 0x8F,
  DW_OP_regx = 0x90,
  DW_OP_fbreg = 0x91,
  DW_OP_bregx = 0x92,
  DW_OP_piece = 0x93,
  DW_OP_deref_size = 0x94,
  DW_OP_xderef_size = 0x95,
  DW_OP_nop = 0x96,
};

// Words on the evaluation stack.
constexpr size_t DZCRASH_DWARF_EXPRESSION_STACK_SIZE = 100;
// Operations one evaluation may run: a branch that jumps back can otherwise loop for ever, and a crash
// handler must end.
constexpr size_t DZCRASH_DWARF_EXPRESSION_MAX_STEPS = 10000;

// Evaluates the expression at [address + offset, address + offset + length) of the section, with the
// initial values pushed first (the last one on top), and gives the value on top of the stack.
// Registers come from `state` (register reads of DWARF numbers without a mapping give
// DZCRASH_NOT_SUPPORTED, of registers the state does not hold DZCRASH_NOT_FOUND; on x86-64 DWARF
// register 16 reads the instruction pointer); memory comes from the task.
// DZCRASH_INVALID_ARGUMENT for truncated operands, branches out of the block, division by zero, an
// empty result or an evaluation that runs too long; DZCRASH_INTERNAL for more than 100 words; stack
// underflow as each operation's row says (see the .cpp); DZCRASH_NOT_SUPPORTED for operations outside
// call-frame use.
template <typename machine_ptr, typename machine_ptr_s>
dzcrash_error_t dzcrash_async_dwarf_expression_eval(dwarf_section* section, dzcrash_task_t task,
                                                    const dzcrash_async_thread_state* state,
                                                    const dzcrash_async_byteorder_t* byteorder,
                                                    uint64_t address, int64_t offset, uint64_t length,
                                                    const machine_ptr* initial_stack, size_t initial_count,
                                                    machine_ptr* result);

}  // namespace dzcrash::async
