#pragma once

// The list of loaded images that a crash handler walks without locks. Normal operation adds and
// removes images (parsing them on the way in); the crash path only reads.
//
// On Linux the list is fed from dl_iterate_phdr when the reporter is enabled; at crash time the
// dynamic linker's own map (r_debug) can be walked without its lock to see what was loaded since.

#include <link.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncLinkedList.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash {

struct dzcrash_async_image;

// How an image is parsed when it joins the list. The image format's reader supplies it.
struct dzcrash_image_parser {
  // Not async-signal-safe (may allocate). Fills image->parsed and image->size for the image whose
  // header lies at image->header_address; any error drops the image from the list.
  dzcrash_error_t (*nasync_init)(dzcrash_async_image* image, dzcrash_task_t task, void* context);
  // Not async-signal-safe. Releases what nasync_init made.
  void (*nasync_free)(dzcrash_async_image* image, void* context);
  void* context;
};

using dzcrash_async_image_node = async::async_list<dzcrash_async_image*>::node;

// Which reader parsed an image, and so what its parsed record is.
enum dzcrash_image_format : uint32_t {
  // Not parsed (a list without a parser).
  DZCRASH_IMAGE_FORMAT_NONE = 0,
  // parsed is a dzcrash_async_elf.
  DZCRASH_IMAGE_FORMAT_ELF = 1,
  // parsed is a dzcrash_async_macho.
  DZCRASH_IMAGE_FORMAT_MACHO = 2,
};

// The parser that plugs an image format's reader into an image list. The reader parses an image into a
// `Record` with `Init(record, task, name, header_address)` (leaving nothing to free on failure) and
// releases it with `Free(record)`; `CodeSize(record, header_address)` gives the bytes from the header to
// the end of the image's code. Each image's parsed record is then a heap `Record` of the given `Format`.
// Not async-signal-safe.
template <class Record, dzcrash_image_format Format,
          dzcrash_error_t (*Init)(Record*, dzcrash_task_t, const char*, uint64_t), void (*Free)(Record*),
          uint64_t (*CodeSize)(const Record&, uint64_t)>
dzcrash_image_parser DZcrash_image_parser_for();

struct dzcrash_async_image {
  // Where the image's header is loaded.
  uint64_t header_address;
  // Bytes from the header address that belong to the image's code (0 until parsed).
  uint64_t size;
  // Heap copy of the image's path.
  char* name;
  // The parser's own record of the image.
  void* parsed;
  // Set by the parser.
  dzcrash_image_format format;
  // The list node that holds this image; set while a reader walks the list.
  dzcrash_async_image_node* node;
  // Link among removed images, which are freed only with the list.
  dzcrash_async_image* retired_next;
};

struct dzcrash_async_image_list {
  dzcrash_task_t task;
  dzcrash_image_parser parser;
  async::async_list<dzcrash_async_image*>* list;
  // Images removed from the list, kept until the list is freed.
  std::atomic<dzcrash_async_image*> retired;
  // A view's own images, walked after the listed ones: a fixed array the crash path fills without
  // allocation (DZcrash_async_image_list_view_init). Always empty in a list of its own.
  dzcrash_async_image* extra = nullptr;
  size_t extra_count = 0;
  // A view that walks exactly these images, in order, in place of the list's and the extra ones
  // (DZcrash_async_image_list_pick_init); null otherwise. `picked_at` is where the last step stood, so
  // that a walk from one image to the next takes constant time.
  dzcrash_async_image* const* picked = nullptr;
  size_t picked_count = 0;
  size_t picked_at = 0;
};

// The process's one image list, filled when the reporter is enabled.
extern dzcrash_async_image_list shared_image_list;

// Not async-signal-safe. A null parser records images with size 0. False when out of memory.
bool DZcrash_nasync_image_list_init(dzcrash_async_image_list* list, dzcrash_task_t task,
                                    const dzcrash_image_parser* parser);

// Makes `view` walk the images of `base` (which may be null or have no list) followed by
// `extra[0..extra_count)`, which the view does not own. A view reads only: it is never appended to,
// removed from or freed, and it is used only while `base` and the extra images live.
// async-signal-safe.
void DZcrash_async_image_list_view_init(dzcrash_async_image_list* view, const dzcrash_async_image_list* base,
                                        dzcrash_async_image* extra, size_t extra_count);

// Makes `view` walk exactly `picked[0..picked_count)` (images of `base`, which may be null, or images
// the view does not own), in that order. Readers still count themselves in on `base`, so that the
// picked images of `base` stay valid while a view walk runs. The same rules as a view of
// DZcrash_async_image_list_view_init hold. async-signal-safe.
void DZcrash_async_image_list_pick_init(dzcrash_async_image_list* view, const dzcrash_async_image_list* base,
                                        dzcrash_async_image* const* picked, size_t picked_count);

// Not async-signal-safe. Frees every image and the list; no reader may be walking it.
void DZcrash_nasync_image_list_free(dzcrash_async_image_list* list);

// Not async-signal-safe. Copies the name, parses the image and appends it; an image that fails to
// parse is dropped silently.
void DZcrash_nasync_image_list_append(dzcrash_async_image_list* list, uint64_t header_address,
                                      const char* name);

// Not async-signal-safe. Unlinks the first image with this header address. Its record is kept, not
// freed, because a crash handler may be reading it; the list frees it at the end.
void DZcrash_nasync_image_list_remove(dzcrash_async_image_list* list, uint64_t header_address);

// The load segment of a loaded object (as dl_iterate_phdr describes it) that maps file offset 0: its ELF
// header lies at the segment's start. Null when there is none. async-signal-safe.
const ElfW(Phdr) * DZcrash_header_segment(const dl_phdr_info* info);

// Not async-signal-safe. Appends every object the dynamic linker has loaded and the list does not
// hold yet (the program itself under its executable path). Returns how many were appended.
size_t DZcrash_nasync_image_list_add_loaded(dzcrash_async_image_list* list);

// Counts a reader in or out. async-signal-safe.
void DZcrash_async_image_list_set_reading(dzcrash_async_image_list* list, bool enable);

// The first image (current == null) or the one after `current`; null at the end. Only between
// set_reading(true) and set_reading(false). async-signal-safe.
dzcrash_async_image* DZcrash_async_image_list_next(dzcrash_async_image_list* list,
                                                   dzcrash_async_image* current);

// Whether an image of the list has its header at `header_address`; counts itself in as a reader.
// async-signal-safe.
bool DZcrash_async_image_list_holds(dzcrash_async_image_list* list, uint64_t header_address);

// header_address <= address < header_address + size. async-signal-safe.
bool DZcrash_async_image_contains_address(const dzcrash_async_image* image, uint64_t address);

// The first image that contains the address, or null. Only between set_reading(true) and
// set_reading(false). async-signal-safe.
dzcrash_async_image* DZcrash_async_image_containing_address(dzcrash_async_image_list* list, uint64_t address);

// The longest path the system opens, its NUL included (PATH_MAX): no object the dynamic linker loaded has
// a longer one.
constexpr size_t DZCRASH_ASYNC_PATH_MAX = 4096;

// One entry of the dynamic linker's map: load bias, path (NUL-terminated; "" for the program itself) and
// the address of its dynamic section. `name_cut` is set when `name` holds less than the whole path: a
// path that does not end within DZCRASH_ASYNC_PATH_MAX bytes, or one that stops being readable part of
// the way (a map the linker is changing, or damaged).
struct dzcrash_async_rdebug_entry {
  uint64_t load_bias;
  uint64_t dynamic_address;
  bool name_cut;
  char name[DZCRASH_ASYNC_PATH_MAX];
};

// The most entries one walk of the link map visits: a map that seems longer has a cycle in it.
constexpr size_t DZCRASH_ASYNC_RDEBUG_MAX_ENTRIES = 4096;

// Return false to stop the walk.
using dzcrash_async_rdebug_callback = bool (*)(const dzcrash_async_rdebug_entry* entry, void* context);

// Address of this process's r_debug record. async-signal-safe.
uint64_t DZcrash_async_rdebug_address();

// Walks the link map that starts at the r_debug record at `rdebug_address` in the task, with checked
// reads only, so a map the linker is changing at this moment cannot make it fault. Each entry is read
// into `entry` (caller-provided: it is too large for a crash handler's stack), which the callback sees.
// Stops after DZCRASH_ASYNC_RDEBUG_MAX_ENTRIES entries (a cycle). DZCRASH_OK when the walk reached the
// end or the callback stopped it, otherwise the error of the read that failed. async-signal-safe.
dzcrash_error_t DZcrash_async_rdebug_walk(dzcrash_task_t task, uint64_t rdebug_address,
                                          dzcrash_async_rdebug_entry* entry,
                                          dzcrash_async_rdebug_callback callback, void* context);

template <class Record, dzcrash_image_format Format,
          dzcrash_error_t (*Init)(Record*, dzcrash_task_t, const char*, uint64_t), void (*Free)(Record*),
          uint64_t (*CodeSize)(const Record&, uint64_t)>
dzcrash_image_parser DZcrash_image_parser_for() {
  struct Adapter {
    static dzcrash_error_t init(dzcrash_async_image* image, dzcrash_task_t task, void*) {
      auto* record = new (std::nothrow) Record;
      if (record == nullptr) return DZCRASH_NO_MEMORY;
      const dzcrash_error_t err = Init(record, task, image->name, image->header_address);
      if (err != DZCRASH_OK) {
        delete record;
        return err;
      }
      image->parsed = record;
      image->format = Format;
      image->size = CodeSize(*record, image->header_address);
      return DZCRASH_OK;
    }
    static void free(dzcrash_async_image* image, void*) {
      auto* record = static_cast<Record*>(image->parsed);
      if (record == nullptr) return;
      Free(record);
      delete record;
      image->parsed = nullptr;
    }
  };
  return {Adapter::init, Adapter::free, nullptr};
}

}  // namespace dzcrash
