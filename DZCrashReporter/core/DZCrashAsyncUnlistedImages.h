#pragma once

// Images the dynamic linker loaded after an image list was last filled (a dlopen since the reporter was
// enabled), found at crash time by walking the linker's own map and parsed without allocation into
// caller-provided records. Joined to the list through a view (DZcrash_async_image_list_view_init),
// they serve the report's image section and the unwinder like any listed image.
//
// Everything here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

// At most this many images are found by one search.
constexpr size_t DZCRASH_ASYNC_UNLISTED_IMAGES_MAX = 128;

// The images one search found: images[i] is the list entry, whose parsed record is elves[i] and whose
// path is names[i]. The entries are one array, so that a view can walk them.
struct dzcrash_async_unlisted_images {
  size_t count;
  dzcrash_async_image images[DZCRASH_ASYNC_UNLISTED_IMAGES_MAX];
  dzcrash_async_elf elves[DZCRASH_ASYNC_UNLISTED_IMAGES_MAX];
  char names[DZCRASH_ASYNC_UNLISTED_IMAGES_MAX][sizeof(dzcrash_async_rdebug_entry::name)];
};

// Walks the link map of the r_debug record at `rdebug_address` in `task` and fills `out` with every
// object whose ELF header no image of `list` (which may be null) has, in map order, up to the
// maximum. An object whose header does not lie at its load bias (a shared object always has it
// there) is passed over, as is one that does not parse. Returns how many were found; the walk's own
// failures only end it early. async-signal-safe.
size_t DZcrash_async_find_unlisted_images(dzcrash_async_image_list* list, dzcrash_task_t task,
                                          uint64_t rdebug_address, dzcrash_async_unlisted_images* out);

}  // namespace dzcrash
