// One 64-frame walk of a stack of optimised code without frame pointers, by the crash reporter's frame
// cursor and by libunwind's unw_step (a different project, the yardstick): a recursion, whose frames
// share one return address (both unwinders remember the rules of an address they met), and a chain of
// 64 distinct functions, each with its own unwind entry. The two pc lists are compared once before
// timing. The goal: the cursor takes at most twice libunwind's time. Measure with
// the release preset; the debug build's unoptimised cursor says little.

#include <benchmark/benchmark.h>

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

using namespace dzcrash;

namespace {

constexpr int kFrames = 64;
// Deeper than the walk, so that every walked frame is one of the chain's.
constexpr int kDepth = kFrames + 4;

struct Walk {
  uint64_t pcs[kFrames];
  int count;
};

dzcrash_async_image_list gImages;

dzcrash_error_t walkOurs(dzcrash_async_thread_state* state, void* context) {
  auto* walk = static_cast<Walk*>(context);
  dzframe_cursor cursor;
  DZframe_cursor_init(&cursor, DZcrash_async_task_self(), state, &gImages);
  walk->count = 0;
  while (walk->count < kFrames && DZframe_cursor_next(&cursor) == DZFRAME_OK) {
    uint64_t ip = 0;
    DZframe_cursor_get_reg(&cursor, DZCRASH_REG_IP, &ip);
    walk->pcs[walk->count++] = ip;
  }
  DZframe_cursor_free(&cursor);
  return DZCRASH_OK;
}

__attribute__((noinline)) void walkTheirs(Walk* walk) {
  unw_context_t context;
  unw_cursor_t cursor;
  unw_getcontext(&context);
  unw_init_local(&cursor, &context);
  walk->count = 0;
  // The first frame is this function's; the walk starts at its caller, as the cursor's does.
  while (walk->count < kFrames && unw_step(&cursor) > 0) {
    unw_word_t ip = 0;
    unw_get_reg(&cursor, UNW_REG_IP, &ip);
    walk->pcs[walk->count++] = ip;
  }
}

enum class Walker { Cursor, Libunwind };

// The bottom of the chain: both walks start in this function's caller.
__attribute__((noinline)) void bottom(benchmark::State* state, Walker walker) {
  Walk walk{};
  if (walker == Walker::Cursor) {
    for (auto _ : *state) {
      DZcrash_async_thread_state_current(walkOurs, &walk);
      benchmark::DoNotOptimize(walk.count);
    }
  } else {
    for (auto _ : *state) {
      walkTheirs(&walk);
      benchmark::DoNotOptimize(walk.count);
    }
  }
  if (walk.count != kFrames) state->SkipWithError("the walk stopped early");
}

// Compares the walks once: both from the same function, so from its caller on the lists must agree.
__attribute__((noinline)) void compare(benchmark::State*, Walker) {
  Walk ours{};
  Walk theirs{};
  DZcrash_async_thread_state_current(walkOurs, &ours);
  walkTheirs(&theirs);
  // Both lists start in this function, each at its own call.
  bool same = ours.count == kFrames && theirs.count == kFrames;
  for (int i = 1; same && i < kFrames; ++i) same = ours.pcs[i] == theirs.pcs[i];
  if (!same) {
    std::fprintf(stderr, "the cursor's and libunwind's pc lists differ\n");
    std::exit(1);
  }
}

using Leaf = void (*)(benchmark::State*, Walker);

__attribute__((noinline)) int chain(int depth, Leaf leaf, benchmark::State* state, Walker walker) {
  volatile int keep = depth;
  if (depth == 0) {
    leaf(state, walker);
    return keep;
  }
  const int result = chain(depth - 1, leaf, state, walker);
  __asm__ volatile("" ::: "memory");
  return result + keep;
}

// 64 and more distinct functions: each instantiation has its own code and unwind entry.
template <int N>
__attribute__((noinline)) int distinct(Leaf leaf, benchmark::State* state, Walker walker) {
  volatile int keep = N;
  const int result = distinct<N - 1>(leaf, state, walker);
  __asm__ volatile("" ::: "memory");
  return result + keep;
}

template <>
__attribute__((noinline)) int distinct<0>(Leaf leaf, benchmark::State* state, Walker walker) {
  volatile int keep = 0;
  leaf(state, walker);
  return keep;
}

void setUp() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
  DZcrash_nasync_image_list_init(&gImages, DZcrash_async_task_self(), &parser);
  DZcrash_nasync_image_list_add_loaded(&gImages);
  chain(kDepth, compare, nullptr, Walker::Cursor);
  distinct<kDepth>(compare, nullptr, Walker::Cursor);
}

void BM_CursorWalk64(benchmark::State& state) {
  setUp();
  chain(kDepth, bottom, &state, Walker::Cursor);
}
BENCHMARK(BM_CursorWalk64);

void BM_LibunwindWalk64(benchmark::State& state) {
  setUp();
  chain(kDepth, bottom, &state, Walker::Libunwind);
}
BENCHMARK(BM_LibunwindWalk64);

void BM_CursorWalk64Distinct(benchmark::State& state) {
  setUp();
  distinct<kDepth>(bottom, &state, Walker::Cursor);
}
BENCHMARK(BM_CursorWalk64Distinct);

void BM_LibunwindWalk64Distinct(benchmark::State& state) {
  setUp();
  distinct<kDepth>(bottom, &state, Walker::Libunwind);
}
BENCHMARK(BM_LibunwindWalk64Distinct);

}  // namespace
