// A library the crash reporter's tests build twice under two names (DZ_SWAP_PREFIX): one is unloaded
// and the other loaded in its place, and a crash in the second must be reported as its own. Both have
// the same code, so that the second tends to be mapped where the first lay.

#define DZ_SWAP_JOIN2(prefix, name) prefix##name
#define DZ_SWAP_JOIN(prefix, name) DZ_SWAP_JOIN2(prefix, name)
#define DZ_SWAP(name) DZ_SWAP_JOIN(DZ_SWAP_PREFIX, name)

// Writes to address 0x10.
__attribute__((noinline)) void DZ_SWAP(fault)(void) {
  // Read at run time, so that the optimiser neither folds the store nor warns about it.
  static volatile __UINTPTR_TYPE__ fault_address = 0x10;
  *(volatile int*)fault_address = 1;
}

// Calls `fn`, staying on the stack meanwhile.
__attribute__((noinline)) void DZ_SWAP(call)(void (*fn)(void)) {
  fn();
  __asm__ volatile("" ::: "memory");
}
