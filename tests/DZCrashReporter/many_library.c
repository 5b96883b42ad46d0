// A library the crash reporter's crash tests link many times, each under a name and soname of its own
// (so each has a build id of its own), for a child that loads two hundred of them after enabling the
// reporter and crashes in the last.

#include <stdint.h>

// Writes to address 0x10.
__attribute__((noinline)) void dz_many_fault(void) {
  // Read at run time, so that the optimiser neither folds the store nor warns about it.
  static volatile uintptr_t fault_address = 0x10;
  *(volatile int*)fault_address = 1;
}
