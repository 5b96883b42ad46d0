#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash {

namespace {
constexpr const char* kErrorTexts[] = {
    "No error",        "Unknown error",           "No frames are available",
    "Corrupted frame", "Operation not supported", "Invalid argument",
    "Internal error",  "Invalid register",
};
}  // namespace

const char* DZframe_strerror(dzframe_error_t error) {
  const int code = static_cast<int>(error);
  if (code < 0 || code >= static_cast<int>(sizeof(kErrorTexts) / sizeof(kErrorTexts[0]))) {
    return "Unhandled error code";
  }
  return kErrorTexts[code];
}

dzframe_error_t DZframe_cursor_init(dzframe_cursor* cursor, dzcrash_task_t task,
                                    const dzcrash_async_thread_state* state,
                                    dzcrash_async_image_list* image_list) {
  // Field by field: zeroing the whole cursor would write its page cache too.
  cursor->task = task;
  cursor->image_list = image_list;
  cursor->depth = 0;
  DZcrash_async_memset(&cursor->prev_frame, 0, sizeof(cursor->prev_frame));
  DZcrash_async_thread_state_copy(&cursor->frame, state);
  cursor->reader = nullptr;
  DZcrash_task_cache_init(&cursor->cache, task);
  DZcrash_task_init_cached(&cursor->reading, &cursor->cache);
  DZframe_walk_memo_init(&cursor->memo);
  cursor->reading.walk_memo = &cursor->memo;
  return DZFRAME_OK;
}

dzframe_error_t DZframe_cursor_thread_init(dzframe_cursor* cursor, dzcrash_task_t task, pid_t thread,
                                           dzcrash_async_image_list* image_list) {
  dzcrash_async_thread_state state;
  if (DZcrash_async_thread_state_mach_thread_init(&state, thread) != DZCRASH_OK)
    return DZFRAME_INTERNAL_ERROR;
  return DZframe_cursor_init(cursor, task, &state, image_list);
}

dzframe_error_t DZframe_cursor_next(dzframe_cursor* cursor) {
  static const dzframe_cursor_frame_reader readers[] = {
      DZframe_cursor_read_compact_unwind,
      DZframe_cursor_read_dwarf_unwind,
      DZframe_cursor_read_frame_ptr,
  };
  return DZframe_cursor_next_with_readers(cursor, readers, sizeof(readers) / sizeof(readers[0]));
}

dzframe_error_t DZframe_cursor_next_with_readers(dzframe_cursor* cursor,
                                                 const dzframe_cursor_frame_reader* readers, size_t count) {
  if (cursor->depth == 0) {
    cursor->depth = 1;
    return DZFRAME_OK;
  }
  if (count == 0) return DZFRAME_INVALID_ARGUMENT;

  const dzcrash_async_thread_state* previous = cursor->depth == 1 ? nullptr : &cursor->prev_frame;
  dzcrash_async_thread_state next;
  dzframe_error_t result = DZFRAME_UNKNOWN;
  dzframe_cursor_frame_reader winner = nullptr;
  for (size_t i = 0; i < count; ++i) {
    result = readers[i](&cursor->reading, cursor->image_list, &cursor->frame, previous, &next);
    if (result == DZFRAME_OK) {
      winner = readers[i];
      break;
    }
  }
  if (result != DZFRAME_OK) return result;

  // A return address of zero, or one in the never-mapped first page, ends the stack.
  if (!DZcrash_async_thread_state_has_reg(&next, DZCRASH_REG_IP) ||
      DZcrash_async_thread_state_get_reg(&next, DZCRASH_REG_IP) <= DZcrash_async_page_size()) {
    return DZFRAME_NO_FRAME;
  }
  DZcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
  DZcrash_async_thread_state_copy(&cursor->frame, &next);
  cursor->reader = winner;
  ++cursor->depth;
  return DZFRAME_OK;
}

dzframe_error_t DZframe_cursor_get_reg(const dzframe_cursor* cursor, uint32_t regnum, uint64_t* value) {
  if (!DZcrash_async_thread_state_has_reg(&cursor->frame, regnum)) return DZFRAME_NOT_SUPPORTED;
  *value = DZcrash_async_thread_state_get_reg(&cursor->frame, regnum);
  return DZFRAME_OK;
}

const char* DZframe_cursor_get_regname(const dzframe_cursor* cursor, uint32_t regnum) {
  return DZcrash_async_thread_state_get_reg_name(&cursor->frame, regnum);
}

size_t DZframe_cursor_get_regcount(const dzframe_cursor* cursor) {
  return DZcrash_async_thread_state_get_reg_count(&cursor->frame);
}

void DZframe_cursor_free(dzframe_cursor*) {}

uint64_t DZframe_cursor_lookup_address(const dzcrash_async_thread_state* current,
                                       const dzcrash_async_thread_state* previous) {
  const uint64_t ip = DZcrash_async_thread_state_get_reg(current, DZCRASH_REG_IP);
  return previous != nullptr && !current->ip_is_exact && ip > 0 ? ip - 1 : ip;
}

dzframe_error_t DZframe_image_lookup_begin(dzframe_image_lookup* lookup, dzcrash_task_t task,
                                           dzcrash_async_image_list* image_list,
                                           const dzcrash_async_thread_state* current,
                                           const dzcrash_async_thread_state* previous) {
  if (!DZcrash_async_thread_state_has_reg(current, DZCRASH_REG_IP)) return DZFRAME_BAD_FRAME;
  if (DZcrash_async_thread_state_get_reg(current, DZCRASH_REG_IP) == 0) return DZFRAME_NOT_SUPPORTED;
  // A view over no list still has the images found at write time.
  if (image_list == nullptr ||
      (image_list->list == nullptr && image_list->extra_count == 0 && image_list->picked_count == 0)) {
    return DZFRAME_NOT_SUPPORTED;
  }
  lookup->image_list = image_list;
  lookup->address = DZframe_cursor_lookup_address(current, previous);
  dzframe_walk_memo* memo = DZframe_walk_memo_of(task);
  if (memo != nullptr && memo->lookup_known && memo->lookup_list == image_list &&
      memo->lookup_address == lookup->address) {
    lookup->image = memo->lookup_image;
    lookup->counted = false;
  } else {
    DZcrash_async_image_list_set_reading(image_list, true);
    lookup->counted = true;
    lookup->image = DZcrash_async_image_containing_address(image_list, lookup->address);
    if (memo != nullptr) {
      memo->lookup_known = true;
      memo->lookup_list = image_list;
      memo->lookup_address = lookup->address;
      memo->lookup_image = lookup->image;
    }
  }
  if (lookup->image == nullptr) {
    if (lookup->counted) DZcrash_async_image_list_set_reading(image_list, false);
    return DZFRAME_NOT_SUPPORTED;
  }
  return DZFRAME_OK;
}

void DZframe_image_lookup_end(dzframe_image_lookup* lookup) {
  if (lookup->counted) DZcrash_async_image_list_set_reading(lookup->image_list, false);
  lookup->counted = false;
  lookup->image = nullptr;
}

}  // namespace dzcrash
