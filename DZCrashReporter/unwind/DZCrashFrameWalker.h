#pragma once

// The frame cursor: it hands out a thread's frames from the innermost outward, turning each frame's
// registers into its caller's with the first frame reader that succeeds. The readers are tried in the
// order compact unwind information, DWARF call-frame information, frame-pointer chain.
//
// Everything here runs on the crash path: no heap, no locks; stack and image memory are read only
// through checked task reads and memory objects. A cursor and its states belong to one thread.

#include <sys/types.h>

#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/core/DZCrashAsyncTaskCache.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalkMemo.h"

namespace dzcrash {

enum dzframe_error_t : int {
  DZFRAME_OK = 0,
  DZFRAME_UNKNOWN = 1,
  // The end of the stack.
  DZFRAME_NO_FRAME = 2,
  DZFRAME_BAD_FRAME = 3,
  DZFRAME_NOT_SUPPORTED = 4,
  DZFRAME_INVALID_ARGUMENT = 5,
  DZFRAME_INTERNAL_ERROR = 6,
  DZFRAME_BAD_REGISTER = 7,
};

// Constant text of a code; codes outside the table give "Unhandled error code".
const char* DZframe_strerror(dzframe_error_t error);

// One unwinding step: fills the whole of `next` with the caller's registers of `current`. `previous`
// is the frame inside `current` (the one `current` was unwound from), or null when `current` is the
// walk's first frame. DZFRAME_OK only when `next` is complete.
using dzframe_cursor_frame_reader = dzframe_error_t (*)(dzcrash_task_t task,
                                                        dzcrash_async_image_list* image_list,
                                                        const dzcrash_async_thread_state* current,
                                                        const dzcrash_async_thread_state* previous,
                                                        dzcrash_async_thread_state* next);

// Lives on its user's stack from init to free (about 28 KiB, most of it the page cache and the walk's
// memo), and is never copied: it points into itself. The task and image list are not owned: whoever
// made them keeps them alive until free. The readers read the task through the cursor's page cache, so
// each page of stack and unwind tables costs at most one checked read per walk (pages of the own
// process known to be readable are then read in place), and they keep what they found about images and
// unwind tables in the walk's memo; memory must therefore hold still, and stay mapped, during a walk (a
// stopped thread, or the caller's own frames above the walk's first one).
struct dzframe_cursor {
  dzcrash_task_t task;
  dzcrash_async_image_list* image_list;
  // Frames handed out so far.
  uint32_t depth;
  dzcrash_async_thread_state prev_frame;
  dzcrash_async_thread_state frame;
  // The reader that produced the current frame; null for the first.
  dzframe_cursor_frame_reader reader;
  // The task as the readers see it: `task` behind this walk's page cache, carrying the memo.
  dzcrash_task reading;
  dzcrash_task_cache cache;
  dzframe_walk_memo memo;
};

// Starts a walk at `state` (copied). DZFRAME_OK.
dzframe_error_t DZframe_cursor_init(dzframe_cursor* cursor, dzcrash_task_t task,
                                    const dzcrash_async_thread_state* state,
                                    dzcrash_async_image_list* image_list);

// Starts a walk at the registers `thread` (another thread of this process) was parked with by the
// running thread capture. DZFRAME_INTERNAL_ERROR when it is not parked; the cursor is then not
// initialised.
dzframe_error_t DZframe_cursor_thread_init(dzframe_cursor* cursor, dzcrash_task_t task, pid_t thread,
                                           dzcrash_async_image_list* image_list);

// Moves to the next frame with the standard readers. The first call yields the initial state itself.
// DZFRAME_NO_FRAME at the end of the stack (a caller instruction pointer within the first page); when
// every reader fails, the last one's code. The cursor is unchanged on failure.
dzframe_error_t DZframe_cursor_next(dzframe_cursor* cursor);

// The same with the given readers, tried in array order. DZFRAME_INVALID_ARGUMENT for a count of 0
// (after the first call, which needs no reader).
dzframe_error_t DZframe_cursor_next_with_readers(dzframe_cursor* cursor,
                                                 const dzframe_cursor_frame_reader* readers, size_t count);

// The current frame's register, or DZFRAME_NOT_SUPPORTED when its value is not known.
dzframe_error_t DZframe_cursor_get_reg(const dzframe_cursor* cursor, uint32_t regnum, uint64_t* value);
const char* DZframe_cursor_get_regname(const dzframe_cursor* cursor, uint32_t regnum);
size_t DZframe_cursor_get_regcount(const dzframe_cursor* cursor);

// Nothing to release today (the task carries no reference count); kept so that every walk ends in one
// place.
void DZframe_cursor_free(dzframe_cursor* cursor);

// The address whose unwind rules describe `current`. A caller frame's instruction pointer is a return
// address, which for a call that ends its function is already the next function's first byte: its
// rules are looked up one byte earlier. The walk's first frame stopped at its instruction pointer and
// is looked up there, as is a frame that a signal interrupted (its callee, the signal frame, marks it
// with ip_is_exact).
uint64_t DZframe_cursor_lookup_address(const dzcrash_async_thread_state* current,
                                       const dzcrash_async_thread_state* previous);

// The image that holds a frame, as the readers that use an image's unwind tables find it.
struct dzframe_image_lookup {
  dzcrash_async_image_list* image_list;
  dzcrash_async_image* image;
  // DZframe_cursor_lookup_address of the frame.
  uint64_t address;
  // Whether the lookup counted itself in as a reader of the list.
  bool counted;
};

// DZFRAME_BAD_FRAME without an instruction pointer, DZFRAME_NOT_SUPPORTED for instruction pointer 0
// or when no image of the list holds the frame. A walk's task remembers the last lookup, so the readers
// of one step, and frames at the same address, search the list once. A search counts the caller in as
// a reader of the list (so no node is freed under it) until DZframe_image_lookup_end; an image
// remembered from an earlier search needs no count, since a list keeps its images until it is freed.
dzframe_error_t DZframe_image_lookup_begin(dzframe_image_lookup* lookup, dzcrash_task_t task,
                                           dzcrash_async_image_list* image_list,
                                           const dzcrash_async_thread_state* current,
                                           const dzcrash_async_thread_state* previous);
void DZframe_image_lookup_end(dzframe_image_lookup* lookup);

// The readers (as dzframe_cursor_frame_reader).
// Compact unwind information of the Mach-O image that holds the frame; DZFRAME_NOT_SUPPORTED for
// other images and functions it cannot place, DZFRAME_NO_FRAME when its entry cannot be applied (a
// DWARF-only function among them, which the next reader takes).
dzframe_error_t DZframe_cursor_read_compact_unwind(dzcrash_task_t task, dzcrash_async_image_list* image_list,
                                                   const dzcrash_async_thread_state* current,
                                                   const dzcrash_async_thread_state* previous,
                                                   dzcrash_async_thread_state* next);
// DWARF call-frame information of the image that holds the frame.
dzframe_error_t DZframe_cursor_read_dwarf_unwind(dzcrash_task_t task, dzcrash_async_image_list* image_list,
                                                 const dzcrash_async_thread_state* current,
                                                 const dzcrash_async_thread_state* previous,
                                                 dzcrash_async_thread_state* next);
// The frame-pointer chain: the next frame knows only its frame pointer and instruction pointer.
dzframe_error_t DZframe_cursor_read_frame_ptr(dzcrash_task_t task, dzcrash_async_image_list* image_list,
                                              const dzcrash_async_thread_state* current,
                                              const dzcrash_async_thread_state* previous,
                                              dzcrash_async_thread_state* next);

}  // namespace dzcrash
