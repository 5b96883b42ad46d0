#include "tests/libunwind/WalkOracle.h"

#define UNW_LOCAL_ONLY
#include <libunwind.h>

namespace dzcrash::test {

void walkWithCursor(dzcrash_async_image_list* images, const dzcrash_async_thread_state* state, PcList* out) {
  dzframe_cursor cursor;
  DZframe_cursor_init(&cursor, DZcrash_async_task_self(), state, images);
  out->count = 0;
  dzframe_error_t err = DZFRAME_OK;
  while (out->count < kMaxWalkFrames && (err = DZframe_cursor_next(&cursor)) == DZFRAME_OK) {
    uint64_t ip = 0;
    if (DZframe_cursor_get_reg(&cursor, DZCRASH_REG_IP, &ip) != DZFRAME_OK) break;
    out->pcs[out->count++] = ip;
  }
  out->end = err;
  DZframe_cursor_free(&cursor);
}

__attribute__((noinline)) void walkWithLibunwind(PcList* out) {
  unw_context_t context;
  unw_cursor_t cursor;
  out->count = 0;
  out->end = 0;
  if (unw_getcontext(&context) != 0 || unw_init_local(&cursor, &context) != 0) return;
  // The first frame is this function; the walk starts at its caller.
  while (unw_step(&cursor) > 0 && out->count < kMaxWalkFrames) {
    unw_word_t ip = 0;
    unw_get_reg(&cursor, UNW_REG_IP, &ip);
    out->pcs[out->count++] = ip;
  }
}

}  // namespace dzcrash::test
