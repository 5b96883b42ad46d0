#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

using namespace dzcrash;

#if defined(__x86_64__)

namespace {

// The standard readers over the plain own-process task: checked reads one by one, nothing remembered
// from one step to the next. The cursor's own walk must give exactly what these give.
dzframe_error_t plainCompact(dzcrash_task_t, dzcrash_async_image_list* list,
                             const dzcrash_async_thread_state* c, const dzcrash_async_thread_state* p,
                             dzcrash_async_thread_state* n) {
  return DZframe_cursor_read_compact_unwind(DZcrash_async_task_self(), list, c, p, n);
}
dzframe_error_t plainDwarf(dzcrash_task_t, dzcrash_async_image_list* list,
                           const dzcrash_async_thread_state* c, const dzcrash_async_thread_state* p,
                           dzcrash_async_thread_state* n) {
  return DZframe_cursor_read_dwarf_unwind(DZcrash_async_task_self(), list, c, p, n);
}
dzframe_error_t plainFramePointer(dzcrash_task_t, dzcrash_async_image_list* list,
                                  const dzcrash_async_thread_state* c, const dzcrash_async_thread_state* p,
                                  dzcrash_async_thread_state* n) {
  return DZframe_cursor_read_frame_ptr(DZcrash_async_task_self(), list, c, p, n);
}
const dzframe_cursor_frame_reader kPlainReaders[] = {plainCompact, plainDwarf, plainFramePointer};

constexpr size_t kMaxFrames = 96;

struct Walked {
  size_t count;
  dzframe_error_t end;
  dzcrash_async_thread_state frames[kMaxFrames];
  // 0 compact, 1 DWARF, 2 frame pointer, -1 the first frame.
  int reader[kMaxFrames];
};

struct Walks {
  dzcrash_async_image_list* images;
  Walked remembered;
  Walked plain;
  // Rows the cursor kept: frames of one address met again were unwound from them.
  uint8_t rowsKept;
};
// Static: filled inside a signal handler.
Walks gWalks;
int gSignalDepth = 0;

int readerIndex(dzframe_cursor_frame_reader reader) {
  const dzframe_cursor_frame_reader standard[] = {
      DZframe_cursor_read_compact_unwind, DZframe_cursor_read_dwarf_unwind, DZframe_cursor_read_frame_ptr};
  for (int i = 0; i < 3; ++i) {
    if (reader == standard[i] || reader == kPlainReaders[i]) return i;
  }
  return -1;
}

void walk(dzcrash_async_thread_state* state, Walked* out, bool plain, uint8_t* rowsKept) {
  dzframe_cursor cursor;
  DZframe_cursor_init(&cursor, DZcrash_async_task_self(), state, gWalks.images);
  out->count = 0;
  out->end = DZFRAME_OK;
  while (out->count < kMaxFrames) {
    out->end =
        plain ? DZframe_cursor_next_with_readers(&cursor, kPlainReaders, 3) : DZframe_cursor_next(&cursor);
    if (out->end != DZFRAME_OK) break;
    out->frames[out->count] = cursor.frame;
    out->reader[out->count] = readerIndex(cursor.reader);
    ++out->count;
  }
  if (rowsKept != nullptr) *rowsKept = cursor.memo.row_count;
  DZframe_cursor_free(&cursor);
}

dzcrash_error_t walkBoth(dzcrash_async_thread_state* state, void*) {
  walk(state, &gWalks.remembered, false, &gWalks.rowsKept);
  walk(state, &gWalks.plain, true, nullptr);
  return DZCRASH_OK;
}

// Three signal frames, one inside the other, each interrupting the same call: the walk meets the same
// return addresses again, in the handler and in the signal return trampoline.
void onSignal(int) {
  if (++gSignalDepth < 3) {
    raise(SIGUSR2);
  } else {
    DZcrash_async_thread_state_current(walkBoth, nullptr);
  }
}

extern "C" __attribute__((noinline)) int dz_test_memo_descend(int depth) {
  volatile int keep = depth;
  if (depth == 0) {
    raise(SIGUSR2);
    return keep;
  }
  const int result = dz_test_memo_descend(depth - 1);
  __asm__ volatile("" ::: "memory");
  return result + keep;
}

std::string describe(const dzcrash_async_thread_state& s) {
  std::string text;
  for (uint32_t r = 0; r < DZcrash_async_thread_state_get_reg_count(&s); ++r) {
    if (!DZcrash_async_thread_state_has_reg(&s, r)) continue;
    text += std::string(DZcrash_async_thread_state_get_reg_name(&s, r)) + "=" +
            std::to_string(DZcrash_async_thread_state_get_reg(&s, r)) + " ";
  }
  return text + (s.ip_is_exact ? "exact" : "");
}

}  // namespace

TEST(FrameWalkerMemo, AWalkThatRemembersItsStepsGivesEveryFrameAsAWalkThatRemembersNothing) {
  dzcrash_async_image_list images;
  const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&images, DZcrash_async_task_self(), &parser));
  DZcrash_nasync_image_list_add_loaded(&images);
  gWalks = Walks{};
  gWalks.images = &images;
  gSignalDepth = 0;

  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = onSignal;
  action.sa_flags = SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);
  dz_test_memo_descend(12);
  sigaction(SIGUSR2, &previous, nullptr);
  DZcrash_nasync_image_list_free(&images);

  const Walked& remembered = gWalks.remembered;
  const Walked& plain = gWalks.plain;
  // Through the three signal frames and the twelve calls of one address into the test's own frames.
  ASSERT_GE(plain.count, 3u * 3u + 12u) << DZframe_strerror(plain.end);
  EXPECT_EQ(remembered.count, plain.count);
  EXPECT_EQ(remembered.end, plain.end);
  size_t signalFrames = 0;
  for (size_t i = 0; i < plain.count && i < remembered.count; ++i) {
    const dzcrash_async_thread_state& a = remembered.frames[i];
    const dzcrash_async_thread_state& b = plain.frames[i];
    EXPECT_EQ(remembered.reader[i], plain.reader[i]) << "frame " << i;
    EXPECT_EQ(describe(a), describe(b)) << "frame " << i;
    EXPECT_EQ(a.valid_regs, b.valid_regs) << "frame " << i;
    if (b.ip_is_exact) ++signalFrames;
  }
  // The frames the signals interrupted are resumed at their own addresses: the trampoline's rules were
  // applied three times, from one row after the first.
  EXPECT_EQ(signalFrames, 3u);
  EXPECT_GT(gWalks.rowsKept, 0u);
  EXPECT_LT(gWalks.rowsKept, plain.count - 12u);
}

#endif
