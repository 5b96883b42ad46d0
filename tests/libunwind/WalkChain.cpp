// Built with -O2 -fomit-frame-pointer: the walk through these frames needs their call-frame
// information, since no frame-pointer chain links them.

#include "tests/libunwind/WalkOracle.h"

namespace dzcrash::test {

namespace {

using Leaf = void (*)(void*);

int chainA(int depth, Leaf leaf, void* context);
int chainB(int depth, Leaf leaf, void* context);
int chainC(int depth, Leaf leaf, void* context);

// Each keeps a value live across its call and uses the callee's result, so that the call is neither
// inlined nor made a tail call, and each frame has a stack of its own.
__attribute__((noinline)) int chainA(int depth, Leaf leaf, void* context) {
  volatile int keep = depth * 3;
  if (depth == 0) {
    leaf(context);
    return keep;
  }
  const int result = chainB(depth - 1, leaf, context);
  __asm__ volatile("" ::: "memory");
  return result + keep;
}

__attribute__((noinline)) int chainB(int depth, Leaf leaf, void* context) {
  volatile int keep[3] = {depth, depth + 1, depth + 2};
  if (depth == 0) {
    leaf(context);
    return keep[0];
  }
  const int result = chainC(depth - 1, leaf, context);
  __asm__ volatile("" ::: "memory");
  return result + keep[1];
}

__attribute__((noinline)) int chainC(int depth, Leaf leaf, void* context) {
  volatile long keep[5] = {depth, 1, 2, 3, 4};
  if (depth == 0) {
    leaf(context);
    return static_cast<int>(keep[0]);
  }
  const int result = chainA(depth - 1, leaf, context);
  __asm__ volatile("" ::: "memory");
  return result + static_cast<int>(keep[4]);
}

}  // namespace

extern "C" __attribute__((noinline)) int dz_walk_chain(int depth, void (*leaf)(void*), void* context) {
  const int result = chainA(depth, leaf, context);
  __asm__ volatile("" ::: "memory");
  return result + 1;
}

}  // namespace dzcrash::test

// dz_trap_at_entry's first instruction raises SIGILL, so the frame the signal interrupts stops at its
// function's first byte. The byte before it ends dz_before_trap, whose rules (a CFA of rsp + 24) would
// unwind that frame wrongly: only the function's own rules at its exact address give its caller.
__asm__(R"(
  .pushsection .text
  .p2align 4
  .type dz_before_trap, @function
dz_before_trap:
  .cfi_startproc
  subq $16, %rsp
  .cfi_def_cfa_offset 24
  addq $16, %rsp
  .cfi_def_cfa_offset 8
  ret
  .cfi_def_cfa_offset 24
  nop
  .cfi_endproc
  .size dz_before_trap, .-dz_before_trap
  .globl dz_trap_at_entry
  .type dz_trap_at_entry, @function
dz_trap_at_entry:
  .cfi_startproc
  ud2
  ret
  .cfi_endproc
  .size dz_trap_at_entry, .-dz_trap_at_entry
  .popsection
)");
