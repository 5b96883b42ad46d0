#pragma once

// The name of the function at a pc in a Mach-O image, from the image's symbol table, its Objective-C
// metadata, or both: the report writer calls this for every frame when symbolication is on. A method
// is named "-[Class method]" (instance) or "+[Class method]" (class); a category's method carries the
// class's name only. At an equal address the Objective-C name wins, since stripped images often keep a
// global symbol at a method's address that says nothing about it.
//
// Everything here is async-signal-safe.

#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashAsyncObjC.h"

namespace dzcrash {

// One per report write: the Objective-C cache serves every lookup of the write.
using dzcrash_async_symbol_cache = dzcrash_async_objc_cache;

// Strategy bits.
enum : uint32_t {
  DZCRASH_ASYNC_SYMBOL_STRATEGY_NONE = 0,
  DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 1u << 0,
  DZCRASH_ASYNC_SYMBOL_STRATEGY_OBJC = 1u << 1,
  DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL =
      DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE | DZCRASH_ASYNC_SYMBOL_STRATEGY_OBJC,
};

// Names are cut to this many bytes (a method's closing bracket goes first).
constexpr size_t DZCRASH_ASYNC_SYMBOL_NAME_MAX = 255;

// async-signal-safe.
dzcrash_error_t DZcrash_async_symbol_cache_init(dzcrash_async_symbol_cache* cache);
void DZcrash_async_symbol_cache_free(dzcrash_async_symbol_cache* cache);

// Calls back once with the nearest name at or below pc and its address. DZCRASH_NOT_FOUND when every
// enabled lookup failed (or none is enabled); DZCRASH_INTERNAL when a lookup succeeded but no name
// could be read. async-signal-safe.
dzcrash_error_t DZcrash_async_find_symbol(dzcrash_async_macho* image, uint32_t strategy,
                                          dzcrash_async_symbol_cache* cache, uint64_t pc,
                                          dzcrash_async_macho_found_symbol_cb callback, void* context);

}  // namespace dzcrash
