#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash {

dzframe_error_t DZframe_cursor_read_frame_ptr(dzcrash_task_t task, dzcrash_async_image_list*,
                                              const dzcrash_async_thread_state* current,
                                              const dzcrash_async_thread_state* previous,
                                              dzcrash_async_thread_state* next) {
  if (!DZcrash_async_thread_state_has_reg(current, DZCRASH_REG_FP)) return DZFRAME_BAD_FRAME;
  const uint64_t fp = DZcrash_async_thread_state_get_reg(current, DZCRASH_REG_FP);
  if (fp == 0) return DZFRAME_NO_FRAME;

  // Frames lie ever further up the stack; a frame pointer that went the other way is a broken chain
  // (and following it could loop).
  if (previous != nullptr && DZcrash_async_thread_state_has_reg(previous, DZCRASH_REG_FP)) {
    const uint64_t previousFp = DZcrash_async_thread_state_get_reg(previous, DZCRASH_REG_FP);
    const uint32_t direction = DZcrash_async_thread_state_get_stack_direction(current);
    if (direction == DZCRASH_STACK_DIRECTION_DOWN && fp < previousFp) return DZFRAME_BAD_FRAME;
    if (direction == DZCRASH_STACK_DIRECTION_UP && fp > previousFp) return DZFRAME_BAD_FRAME;
  }

  // The caller's frame pointer, then the return address.
  uint64_t callerFp = 0;
  uint64_t returnAddress = 0;
  if (DZcrash_async_thread_state_get_greg_size(current) == 4) {
    uint32_t words[2];
    if (DZcrash_async_task_memcpy(task, fp, 0, words, sizeof(words)) != DZCRASH_OK) return DZFRAME_BAD_FRAME;
    callerFp = words[0];
    returnAddress = words[1];
  } else {
    uint64_t words[2];
    if (DZcrash_async_task_memcpy(task, fp, 0, words, sizeof(words)) != DZCRASH_OK) return DZFRAME_BAD_FRAME;
    callerFp = words[0];
    returnAddress = words[1];
  }

  DZcrash_async_thread_state_copy(next, current);
  DZcrash_async_thread_state_clear_all_regs(next);
  DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_FP, callerFp);
  DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_IP, returnAddress);
  return DZFRAME_OK;
}

}  // namespace dzcrash
