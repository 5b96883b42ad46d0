#pragma once

// The images loaded at crash time, as the dynamic linker's own map lists them, matched against an
// image list that was filled earlier: an image the list holds as it is loaded now is taken from the
// list; one loaded since (a dlopen after the reporter was enabled), or loaded where a listed image was
// unloaded from (a dlclose, then a dlopen at the same address), is parsed without allocation into
// caller-provided records; a listed image that is no longer loaded is left out. The map speaks only for
// this task's ELF images: the list's others (another task's, Mach-O ones) are kept. A view of the result
// (DZcrash_async_image_list_pick_init) serves the report's image section and the unwinder.
//
// Everything here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

// Room for every object the map walk visits: a process may load any number of libraries after the list
// was filled (plugins), and one left without a record would lose its name, build id, symbols and unwind
// tables, and with them the stack of a crash in it. The records are reserved, not used, until a search
// fills them: keep this structure in a mapping made outside the crash path (the pages a search does not
// reach are never touched), never on a stack.
constexpr size_t DZCRASH_ASYNC_UNLISTED_IMAGES_MAX = DZCRASH_ASYNC_RDEBUG_MAX_ENTRIES;
// The picked images: the list's own that the map does not speak for (none in a list of this process's
// images) come first, then one for each object of the map.
constexpr size_t DZCRASH_ASYNC_LOADED_IMAGES_MAX = DZCRASH_ASYNC_RDEBUG_MAX_ENTRIES;

// What ends the path of a record when the map held less than the whole path.
constexpr char DZCRASH_ASYNC_CUT_PATH_MARK[] = " (cut)";
// Room for the whole path of every record, each with its NUL (and the mark, when it was cut).
constexpr size_t DZCRASH_ASYNC_UNLISTED_NAMES_BYTES =
    DZCRASH_ASYNC_UNLISTED_IMAGES_MAX * (DZCRASH_ASYNC_PATH_MAX + sizeof(DZCRASH_ASYNC_CUT_PATH_MARK));

// What one search found: images[i] is a parsed entry, whose record is elves[i] and whose path lies in
// names (one array, so that a view can walk them); picked[] are the loaded images in map order, each an
// image of the list or one of images[].
struct dzcrash_async_unlisted_images {
  size_t count;
  dzcrash_async_image images[DZCRASH_ASYNC_UNLISTED_IMAGES_MAX];
  dzcrash_async_elf elves[DZCRASH_ASYNC_UNLISTED_IMAGES_MAX];
  // The records' paths one after another, each whole: names_used bytes are taken.
  size_t names_used;
  char names[DZCRASH_ASYNC_UNLISTED_NAMES_BYTES];
  size_t picked_count;
  dzcrash_async_image* picked[DZCRASH_ASYNC_LOADED_IMAGES_MAX];
  // What a search works in: too large for a crash handler's stack.
  dzcrash_async_rdebug_entry entry;
  char program[DZCRASH_ASYNC_PATH_MAX];
  bool program_cut;
};

// Walks the link map of the r_debug record at `rdebug_address` in `task`, parses each object (an object
// whose header does not lie at its load bias, as a shared object's always does, or that does not parse,
// is passed over; the program itself is matched by its path), and fills `out` as described above: every
// object of the map has its record. `list` may be null or unfilled. True when the walk read the whole map;
// false when a read failed, and then `picked` holds only the objects before the failure. async-signal-safe.
bool DZcrash_async_find_loaded_images(dzcrash_async_image_list* list, dzcrash_task_t task,
                                      uint64_t rdebug_address, dzcrash_async_unlisted_images* out);

// Makes `view` walk the images loaded now (the search above over `list` and this process's map, with
// `out` as its records); when the map cannot be read whole, the images of `list` and those the search
// found before it stopped. async-signal-safe.
void DZcrash_async_current_images(dzcrash_async_image_list* list, dzcrash_async_unlisted_images* out,
                                  dzcrash_async_image_list* view);

}  // namespace dzcrash
