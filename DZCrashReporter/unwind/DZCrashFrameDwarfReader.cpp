#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash {

// Call-frame information is not evaluated yet: every frame falls through to the frame-pointer chain.
dzframe_error_t DZframe_cursor_read_dwarf_unwind(dzcrash_task_t, dzcrash_async_image_list* image_list,
                                                 const dzcrash_async_thread_state* current,
                                                 const dzcrash_async_thread_state* previous,
                                                 dzcrash_async_thread_state*) {
  dzframe_image_lookup lookup;
  const dzframe_error_t found = DZframe_image_lookup_begin(&lookup, image_list, current, previous);
  if (found != DZFRAME_OK) return found;
  DZframe_image_lookup_end(&lookup);
  return DZFRAME_NOT_SUPPORTED;
}

}  // namespace dzcrash
