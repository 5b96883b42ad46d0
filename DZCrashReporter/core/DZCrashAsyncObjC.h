#pragma once

// Objective-C method names read from an image's class and category metadata, for frames whose image
// has no symbol at the method (stripped local symbols). Both metadata generations are read: the first
// (32-bit x86: __OBJC,__module_info) and the second (class and category lists, classic and relative
// method lists, 64- and 32-bit layouts). Every read goes through a section mapping or a checked task
// read, so damaged metadata yields an error, never a fault.
//
// Everything here is async-signal-safe: the cache holds mappings and one anonymous mapping for the
// class-data cache, never heap memory.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncMObject.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"

namespace dzcrash {

constexpr size_t DZCRASH_OBJC_CLASS_CACHE_SLOTS = 1024;

// The state one report write keeps between lookups: the Objective-C sections of the image parsed last
// (frames of one image in a row reuse them) and a cache from class-data address to read-only data
// address. Owned by one writer; not shared between threads.
struct dzcrash_async_objc_cache {
  // Second-generation metadata has been seen: first-generation metadata is not looked for again.
  bool got_objc2_info;
  // The image whose sections are mapped below, or null.
  const dzcrash_async_macho* last_image;

  bool objc_const_mapped;
  dzcrash_async_mobject objc_const;
  bool objc_const_ax_mapped;
  dzcrash_async_mobject objc_const_ax;
  bool objc_methlist_mapped;
  dzcrash_async_mobject objc_methlist;
  bool objc_selrefs_mapped;
  dzcrash_async_mobject objc_selrefs;
  bool classlist_mapped;
  dzcrash_async_mobject classlist;
  bool catlist_mapped;
  dzcrash_async_mobject catlist;
  bool objc_data_mapped;
  dzcrash_async_mobject objc_data;
  bool data_mapped;
  dzcrash_async_mobject data;

  // Class-data cache: slots (0 until first use, then DZCRASH_OBJC_CLASS_CACHE_SLOTS), then the keys
  // and the values, both in one anonymous mapping (keys first). When that mapping cannot be made the
  // capacity stays 0 and nothing is cached.
  size_t class_cache_size;
  bool class_cache_tried;
  uint64_t* class_cache_keys;
  uint64_t* class_cache_values;
};

// Called once per method: whether it is a class method, the class's name and the method's name (read
// lazily from the task; the callee may load them), and the method's address.
using dzcrash_async_objc_found_method_cb = void (*)(bool is_meta_class,
                                                    dzcrash_async_macho_string* class_name,
                                                    dzcrash_async_macho_string* method_name, uint64_t imp,
                                                    void* context);

// DZCRASH_OK; nothing is mapped yet. async-signal-safe.
dzcrash_error_t DZcrash_async_objc_cache_init(dzcrash_async_objc_cache* cache);

// Frees the section mappings and the class-data cache. async-signal-safe.
void DZcrash_async_objc_cache_free(dzcrash_async_objc_cache* cache);

// Calls back once per method of every class, metaclass and category of the image.
// DZCRASH_ACCESS_DENIED without a cache; DZCRASH_NOT_FOUND when the image has no Objective-C metadata;
// DZCRASH_INVALID_DATA for metadata that points outside where it must lie; a task read's error for
// memory that cannot be read. async-signal-safe.
dzcrash_error_t dzcrash_async_objc_parse(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache,
                                         dzcrash_async_objc_found_method_cb callback, void* context);

// The method with the greatest address at or below pc; the callback is called once, for the first
// method seen at that address. DZCRASH_NOT_FOUND when no method lies at or below pc. async-signal-safe.
dzcrash_error_t DZcrash_async_objc_find_method(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache,
                                               uint64_t pc, dzcrash_async_objc_found_method_cb callback,
                                               void* context);

}  // namespace dzcrash
