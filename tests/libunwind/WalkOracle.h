#pragma once

// Two walks of the same stack from inside a signal handler: the crash reporter's frame cursor and
// libunwind (a different project, used here as the oracle). Both record the instruction pointers of
// the frames they hand out, outermost last. Everything here is async-signal-safe enough for a handler
// (no heap, no locks of our own).

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash::test {

constexpr size_t kMaxWalkFrames = 200;

struct PcList {
  uint64_t pcs[kMaxWalkFrames];
  size_t count;
  // The cursor's last result (DZFRAME_NO_FRAME at a clean end); unused for libunwind.
  int end;
};

// Walks from `state` with the standard readers.
void walkWithCursor(dzcrash_async_image_list* images, const dzcrash_async_thread_state* state, PcList* out);

// Walks the calling thread with libunwind, starting at the caller of this function.
void walkWithLibunwind(PcList* out);

// Calls down through `depth` frames of functions built with -O2 -fomit-frame-pointer (three that call
// each other in turn, so that return addresses differ), then calls leaf(context) from the innermost.
extern "C" int dz_walk_chain(int depth, void (*leaf)(void*), void* context);

// Raises SIGILL with its first instruction (2 bytes long); a handler that steps over it lets it return.
// The function before it in memory has different rules at its last byte.
extern "C" void dz_trap_at_entry();

}  // namespace dzcrash::test
