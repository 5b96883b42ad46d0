#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"

namespace dzcrash {

namespace {

// The name held so far, on the stack of the lookup.
struct HeldSymbol {
  char name[DZCRASH_ASYNC_SYMBOL_NAME_MAX + 1];
  bool found;
  uint64_t address;
};

// Appends to a fixed buffer, dropping what does not fit.
struct NameWriter {
  char* out;
  size_t length;

  void put(const char* text, size_t count) {
    for (size_t i = 0; i < count && length < DZCRASH_ASYNC_SYMBOL_NAME_MAX; ++i) out[length++] = text[i];
  }
  void put(char c) { put(&c, 1); }
  void finish() { out[length] = '\0'; }
};

void holdTableSymbol(uint64_t address, const char* name, void* context) {
  auto* held = static_cast<HeldSymbol*>(context);
  if (held->found && held->address > address) return;
  size_t length = 0;
  while (name[length] != '\0') ++length;
  NameWriter writer = {held->name, 0};
  writer.put(name, length);
  writer.finish();
  held->address = address;
  held->found = true;
}

void holdMethod(bool isMeta, dzcrash_async_macho_string* className, dzcrash_async_macho_string* methodName,
                uint64_t imp, void* context) {
  auto* held = static_cast<HeldSymbol*>(context);
  if (held->found && imp < held->address) return;
  // Both names are read before the held one is touched: a name that cannot be read leaves it.
  const char* cls = nullptr;
  const char* method = nullptr;
  size_t clsLength = 0;
  size_t methodLength = 0;
  if (DZcrash_async_macho_string_get_length(className, &clsLength) != DZCRASH_OK ||
      DZcrash_async_macho_string_get_pointer(className, &cls) != DZCRASH_OK ||
      DZcrash_async_macho_string_get_length(methodName, &methodLength) != DZCRASH_OK ||
      DZcrash_async_macho_string_get_pointer(methodName, &method) != DZCRASH_OK) {
    return;
  }
  NameWriter writer = {held->name, 0};
  writer.put(isMeta ? '+' : '-');
  writer.put('[');
  writer.put(cls, clsLength);
  writer.put(' ');
  writer.put(method, methodLength);
  writer.put(']');
  writer.finish();
  held->address = imp;
  held->found = true;
}

}  // namespace

dzcrash_error_t DZcrash_async_symbol_cache_init(dzcrash_async_symbol_cache* cache) {
  return DZcrash_async_objc_cache_init(cache);
}

void DZcrash_async_symbol_cache_free(dzcrash_async_symbol_cache* cache) {
  DZcrash_async_objc_cache_free(cache);
}

dzcrash_error_t DZcrash_async_find_symbol(dzcrash_async_macho* image, uint32_t strategy,
                                          dzcrash_async_symbol_cache* cache, uint64_t pc,
                                          dzcrash_async_macho_found_symbol_cb callback, void* context) {
  HeldSymbol held;
  held.name[0] = '\0';
  held.found = false;
  held.address = 0;
  bool anySucceeded = false;
  if ((strategy & DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) != 0 &&
      DZcrash_async_macho_find_symbol_by_pc(image, pc, holdTableSymbol, &held) == DZCRASH_OK) {
    anySucceeded = true;
  }
  if ((strategy & DZCRASH_ASYNC_SYMBOL_STRATEGY_OBJC) != 0 &&
      DZcrash_async_objc_find_method(image, cache, pc, holdMethod, &held) == DZCRASH_OK) {
    anySucceeded = true;
  }
  if (!anySucceeded) return DZCRASH_NOT_FOUND;
  if (!held.found) return DZCRASH_INTERNAL;
  callback(held.address, held.name, context);
  return DZCRASH_OK;
}

}  // namespace dzcrash
