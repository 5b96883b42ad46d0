#include "DZCrashReporter/core/DZCrashAsyncObjC.h"

#include <sys/mman.h>

namespace dzcrash {

namespace {

// First-generation metadata (32-bit words).
constexpr size_t kObjC1ModuleSize = 16;
constexpr size_t kObjC1ModuleSymtab = 12;
constexpr size_t kObjC1SymtabHeadSize = 12;
constexpr size_t kObjC1SymtabClassCount = 8;
constexpr size_t kObjC1ClassSize = 40;
constexpr size_t kObjC1ClassName = 8;
constexpr size_t kObjC1ClassInfo = 16;
constexpr size_t kObjC1ClassMethods = 28;
constexpr size_t kObjC1MethodListHead = 8;
constexpr size_t kObjC1MethodSize = 12;
// The class's method field points at one method list rather than an array of them.
constexpr uint32_t kObjC1NoMethodArray = 0x4000;
constexpr uint32_t kObjC1MethodArrayEnd = 0xFFFFFFFF;

// Second-generation metadata.
constexpr uint32_t kRWRealized = 1u << 31;
constexpr uint32_t kRWCopiedRO = 1u << 27;
constexpr uint32_t kMethodListRelative = 0x80000000u;
constexpr uint32_t kMethodListEntsizeMask = 0xFFFC;
constexpr size_t kMethodListHead = 8;
constexpr size_t kRelativeMethodSize = 12;
constexpr size_t kRWHeaderROPointer = 8;

// The sizes and offsets that differ between 64- and 32-bit images.
struct Layout {
  size_t pointer;
  size_t classSize;
  size_t classData;
  // The class-data pointer's low bits are flags. The 32-bit runtime keeps two of them (class data is
  // only 4-byte aligned there); the 64-bit one three, and the top bits hold more flags.
  uint64_t classDataMask;
  size_t rwHeaderSize;
  size_t roSize;
  size_t roName;
  size_t roBaseMethods;
  size_t categorySize;
};

constexpr Layout kLayout64 = {8, 40, 32, 0x00007FFFFFFFFFF8ull, 16, 72, 24, 32, 48};
constexpr Layout kLayout32 = {4, 20, 16, 0xFFFFFFFCull, 12, 40, 16, 20, 24};

const Layout& layoutOf(const dzcrash_async_macho* image) {
  return image->m64 ? kLayout64 : kLayout32;
}

uint32_t load32(const dzcrash_async_macho* image, const void* at) {
  uint32_t v;
  DZcrash_async_memcpy(&v, at, sizeof(v));
  return image->byteorder->swap32(v);
}

uint16_t load16(const dzcrash_async_macho* image, const void* at) {
  uint16_t v;
  DZcrash_async_memcpy(&v, at, sizeof(v));
  return image->byteorder->swap16(v);
}

// A pointer-sized field in the image's width and byte order.
uint64_t loadPointer(const dzcrash_async_macho* image, const void* at) {
  if (!image->m64) return load32(image, at);
  uint64_t v;
  DZcrash_async_memcpy(&v, at, sizeof(v));
  return image->byteorder->swap64(v);
}

dzcrash_error_t readTask(const dzcrash_async_macho* image, uint64_t address, void* dest, size_t length) {
  return DZcrash_async_task_memcpy(image->task, address, 0, dest, length);
}

// Local pointer to length bytes at address when they lie wholly in the mapping.
const uint8_t* inMapping(bool mapped, const dzcrash_async_mobject* mobj, uint64_t address, size_t length) {
  if (!mapped) return nullptr;
  return static_cast<const uint8_t*>(DZcrash_async_mobject_remap_address(mobj, address, 0, length));
}

// ---- Section mappings -------------------------------------------------------------------------------

struct SectionSlot {
  bool* mapped;
  dzcrash_async_mobject* mobj;
};

void freeSections(dzcrash_async_objc_cache* cache) {
  const SectionSlot slots[] = {
      {&cache->objc_const_mapped, &cache->objc_const},
      {&cache->objc_const_ax_mapped, &cache->objc_const_ax},
      {&cache->objc_methlist_mapped, &cache->objc_methlist},
      {&cache->objc_selrefs_mapped, &cache->objc_selrefs},
      {&cache->classlist_mapped, &cache->classlist},
      {&cache->catlist_mapped, &cache->catlist},
      {&cache->objc_data_mapped, &cache->objc_data},
      {&cache->data_mapped, &cache->data},
  };
  for (const SectionSlot& slot : slots) {
    if (*slot.mapped) DZcrash_async_mobject_free(slot.mobj);
    *slot.mapped = false;
  }
  cache->last_image = nullptr;
}

// The section as the linker may have placed it in any of the data segments.
dzcrash_error_t mapDataSection(dzcrash_async_macho* image, const char* sectname, SectionSlot slot) {
  for (const char* segname : {"__DATA", "__DATA_CONST", "__DATA_DIRTY"}) {
    const dzcrash_error_t err = DZcrash_async_macho_map_section(image, segname, sectname, slot.mobj);
    if (err == DZCRASH_OK) {
      *slot.mapped = true;
      return DZCRASH_OK;
    }
    if (err != DZCRASH_NOT_FOUND) return err;
  }
  return DZCRASH_NOT_FOUND;
}

// A section the metadata may do without: absent or unreadable, it is simply not looked in.
void mapOptional(dzcrash_async_macho* image, const char* segname, const char* sectname, SectionSlot slot) {
  *slot.mapped = DZcrash_async_macho_map_section(image, segname, sectname, slot.mobj) == DZCRASH_OK;
}

// Maps the image's second-generation sections, unless they are the ones mapped already.
dzcrash_error_t mapSections(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache) {
  if (cache->last_image == image) return DZCRASH_OK;
  freeSections(cache);
  const dzcrash_error_t err =
      mapDataSection(image, "__objc_const", {&cache->objc_const_mapped, &cache->objc_const});
  if (err != DZCRASH_OK) return err;
  mapOptional(image, "__DATA", "__objc_const_ax", {&cache->objc_const_ax_mapped, &cache->objc_const_ax});
  mapOptional(image, "__TEXT", "__objc_methlist", {&cache->objc_methlist_mapped, &cache->objc_methlist});
  mapOptional(image, "__DATA", "__objc_selrefs", {&cache->objc_selrefs_mapped, &cache->objc_selrefs});
  // An image without classes, or without categories, has no list of them: that is an empty list.
  mapDataSection(image, "__objc_classlist", {&cache->classlist_mapped, &cache->classlist});
  mapDataSection(image, "__objc_catlist", {&cache->catlist_mapped, &cache->catlist});
  mapOptional(image, "__DATA", "__objc_data", {&cache->objc_data_mapped, &cache->objc_data});
  mapOptional(image, "__DATA", "__data", {&cache->data_mapped, &cache->data});
  cache->last_image = image;
  return DZCRASH_OK;
}

// ---- Class-data cache -------------------------------------------------------------------------------

constexpr size_t kClassCacheBytes = 2 * DZCRASH_OBJC_CLASS_CACHE_SLOTS * sizeof(uint64_t);

void ensureClassCache(dzcrash_async_objc_cache* cache) {
  if (cache->class_cache_tried) return;
  cache->class_cache_tried = true;
  void* memory = mmap(nullptr, kClassCacheBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  cache->class_cache_keys = static_cast<uint64_t*>(memory);
  cache->class_cache_values = cache->class_cache_keys + DZCRASH_OBJC_CLASS_CACHE_SLOTS;
  cache->class_cache_size = DZCRASH_OBJC_CLASS_CACHE_SLOTS;
}

size_t classCacheSlot(const dzcrash_async_objc_cache* cache, uint64_t key) {
  return static_cast<size_t>((key / 4) % cache->class_cache_size);
}

bool classCacheLookup(const dzcrash_async_objc_cache* cache, uint64_t key, uint64_t* value) {
  if (cache->class_cache_size == 0) return false;
  const size_t slot = classCacheSlot(cache, key);
  if (cache->class_cache_keys[slot] != key || cache->class_cache_values[slot] == 0) return false;
  *value = cache->class_cache_values[slot];
  return true;
}

// A slot that is taken stays: the first class seen there keeps it.
void classCacheStore(dzcrash_async_objc_cache* cache, uint64_t key, uint64_t value) {
  if (cache->class_cache_size == 0) return;
  const size_t slot = classCacheSlot(cache, key);
  if (cache->class_cache_values[slot] != 0) return;
  cache->class_cache_keys[slot] = key;
  cache->class_cache_values[slot] = value;
}

// ---- Second-generation classes ----------------------------------------------------------------------

struct ClassRO {
  uint64_t name;
  uint64_t baseMethods;
};

dzcrash_error_t readRO(dzcrash_async_macho* image, const dzcrash_async_objc_cache* cache, uint64_t address,
                       bool fromTask, ClassRO* out) {
  const Layout& layout = layoutOf(image);
  uint8_t bytes[kLayout64.roSize];
  if (fromTask) {
    const dzcrash_error_t err = readTask(image, address, bytes, layout.roSize);
    if (err != DZCRASH_OK) return err;
  } else {
    const uint8_t* local = inMapping(cache->objc_const_mapped, &cache->objc_const, address, layout.roSize);
    if (local == nullptr) return DZCRASH_INVALID_DATA;
    DZcrash_async_memcpy(bytes, local, layout.roSize);
  }
  out->name = loadPointer(image, bytes + layout.roName);
  out->baseMethods = loadPointer(image, bytes + layout.roBaseMethods);
  return DZCRASH_OK;
}

// The read-only data of a class, from the class's data field.
dzcrash_error_t classData(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache, uint64_t dataField,
                          ClassRO* out) {
  const Layout& layout = layoutOf(image);
  const uint64_t data = dataField & layout.classDataMask;
  ensureClassCache(cache);
  uint64_t ro = 0;
  if (classCacheLookup(cache, data, &ro)) {
    const bool inConst =
        inMapping(cache->objc_const_mapped, &cache->objc_const, ro, layout.roSize) != nullptr;
    return readRO(image, cache, ro, !inConst, out);
  }

  // A realized class's data is the runtime's read-write record, which points at the read-only data
  // (directly, or through an extension record when bit 0 is set); an unrealized one's is the
  // read-only data itself.
  uint8_t rw[kLayout64.rwHeaderSize];
  dzcrash_error_t err = readTask(image, data, rw, layout.rwHeaderSize);
  if (err != DZCRASH_OK) return err;
  const uint32_t flags = load32(image, rw);
  ro = (flags & kRWRealized) != 0 ? loadPointer(image, rw + kRWHeaderROPointer) : data;
  if ((ro & 1) != 0) {
    uint8_t word[sizeof(uint64_t)];
    err = readTask(image, ro & ~uint64_t{1}, word, layout.pointer);
    if (err != DZCRASH_OK) return err;
    ro = loadPointer(image, word);
  }
  const bool fromTask = (flags & kRWCopiedRO) != 0 || !DZcrash_async_macho_contains_address(image, ro);
  err = readRO(image, cache, ro, fromTask, out);
  if (err == DZCRASH_OK) classCacheStore(cache, data, ro);
  return err;
}

// Calls back for every method of a method list. A null list has no methods.
dzcrash_error_t reportMethodList(dzcrash_async_macho* image, const dzcrash_async_objc_cache* cache,
                                 bool isMeta, dzcrash_async_macho_string* className, uint64_t list,
                                 dzcrash_async_objc_found_method_cb callback, void* context) {
  if (list == 0) return DZCRASH_OK;
  // Lists lie in __objc_const, or where newer linkers put them.
  struct Candidate {
    bool mapped;
    const dzcrash_async_mobject* mobj;
  };
  const Candidate candidates[] = {
      {cache->objc_const_mapped, &cache->objc_const},
      {cache->objc_const_ax_mapped, &cache->objc_const_ax},
      {cache->objc_methlist_mapped, &cache->objc_methlist},
  };
  const dzcrash_async_mobject* mobj = nullptr;
  const uint8_t* head = nullptr;
  for (const Candidate& candidate : candidates) {
    head = inMapping(candidate.mapped, candidate.mobj, list, kMethodListHead);
    if (head != nullptr) {
      mobj = candidate.mobj;
      break;
    }
  }
  if (head == nullptr) return DZCRASH_INVALID_DATA;

  const Layout& layout = layoutOf(image);
  const uint32_t entsizeAndFlags = load32(image, head);
  const uint32_t count = load32(image, head + 4);
  if (count == 0) return DZCRASH_OK;
  const bool relative = (entsizeAndFlags & kMethodListRelative) != 0;
  const uint64_t entsize = entsizeAndFlags & kMethodListEntsizeMask;
  const size_t entryLayout = relative ? kRelativeMethodSize : 3 * layout.pointer;
  // Entries narrower than their fields would overlap; every entry must lie in the list's mapping.
  if (entsize < entryLayout) return DZCRASH_INVALID_DATA;
  const uint64_t entries = list + kMethodListHead;
  if (DZcrash_async_mobject_remap_address(mobj, entries, 0, static_cast<size_t>(count * entsize)) ==
      nullptr) {
    return DZCRASH_INVALID_DATA;
  }

  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = entries + i * entsize;
    const auto* local =
        static_cast<const uint8_t*>(DZcrash_async_mobject_remap_address(mobj, entry, 0, entryLayout));
    if (local == nullptr) return DZCRASH_INVALID_DATA;
    uint64_t name = 0;
    uint64_t imp = 0;
    if (relative) {
      // Each offset counts from its own field.
      const auto nameOffset = static_cast<int32_t>(load32(image, local));
      const auto impOffset = static_cast<int32_t>(load32(image, local + 8));
      if (!DZcrash_async_address_apply_offset(entry, nameOffset, &name) ||
          !DZcrash_async_address_apply_offset(entry + 8, impOffset, &imp)) {
        return DZCRASH_INVALID_DATA;
      }
    } else {
      name = loadPointer(image, local);
      imp = loadPointer(image, local + 2 * layout.pointer);
    }
    // A relative list names its selector through a selector reference.
    if (const uint8_t* selref =
            inMapping(cache->objc_selrefs_mapped, &cache->objc_selrefs, name, layout.pointer)) {
      name = loadPointer(image, selref);
    }
    dzcrash_async_macho_string methodName;
    DZcrash_async_macho_string_init(&methodName, image, name);
    callback(isMeta, className, &methodName, imp, context);
    DZcrash_async_macho_string_free(&methodName);
  }
  return DZCRASH_OK;
}

// The class or metaclass record at address: in __objc_data, else in __data.
const uint8_t* findClass(const dzcrash_async_objc_cache* cache, const Layout& layout, uint64_t address) {
  const uint8_t* local = inMapping(cache->objc_data_mapped, &cache->objc_data, address, layout.classSize);
  if (local == nullptr) local = inMapping(cache->data_mapped, &cache->data, address, layout.classSize);
  return local;
}

dzcrash_error_t reportClass(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache, const uint8_t* cls,
                            bool isMeta, dzcrash_async_objc_found_method_cb callback, void* context) {
  ClassRO ro;
  dzcrash_error_t err = classData(image, cache, loadPointer(image, cls + layoutOf(image).classData), &ro);
  if (err != DZCRASH_OK) return err;
  dzcrash_async_macho_string className;
  DZcrash_async_macho_string_init(&className, image, ro.name);
  err = reportMethodList(image, cache, isMeta, &className, ro.baseMethods, callback, context);
  DZcrash_async_macho_string_free(&className);
  return err;
}

// A metaclass is found through its class's isa; a tagged isa (bit 0) carries flags in its low bits.
uint64_t untaggedIsa(uint64_t isa) {
  return (isa & 1) != 0 ? isa & ~uint64_t{7} : isa;
}

// Calls visit with each pointer of a class or category list, and stops at the first error.
template <typename Visit>
dzcrash_error_t forEachListEntry(const dzcrash_async_macho* image, bool mapped,
                                 const dzcrash_async_mobject* list, Visit visit) {
  if (!mapped) return DZCRASH_OK;
  const size_t pointer = layoutOf(image).pointer;
  const uint64_t base = DZcrash_async_mobject_base_address(list);
  const uint64_t count = DZcrash_async_mobject_length(list) / pointer;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* entry = inMapping(true, list, base + i * pointer, pointer);
    if (entry == nullptr) return DZCRASH_INVALID_DATA;
    const dzcrash_error_t err = visit(loadPointer(image, entry));
    if (err != DZCRASH_OK) return err;
  }
  return DZCRASH_OK;
}

dzcrash_error_t parseClasses(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache,
                             dzcrash_async_objc_found_method_cb callback, void* context) {
  const Layout& layout = layoutOf(image);
  return forEachListEntry(image, cache->classlist_mapped, &cache->classlist, [&](uint64_t address) {
    const uint8_t* cls = findClass(cache, layout, address);
    if (cls == nullptr) return DZCRASH_INVALID_DATA;
    dzcrash_error_t err = reportClass(image, cache, cls, false, callback, context);
    // A class whose methods cannot be found is skipped with its metaclass.
    if (err == DZCRASH_NOT_FOUND) return DZCRASH_OK;
    if (err != DZCRASH_OK) return err;
    const uint8_t* meta = findClass(cache, layout, untaggedIsa(loadPointer(image, cls)));
    if (meta == nullptr) return DZCRASH_INVALID_DATA;
    err = reportClass(image, cache, meta, true, callback, context);
    return err == DZCRASH_NOT_FOUND ? DZCRASH_OK : err;
  });
}

dzcrash_error_t parseCategories(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache,
                                dzcrash_async_objc_found_method_cb callback, void* context) {
  const Layout& layout = layoutOf(image);
  return forEachListEntry(image, cache->catlist_mapped, &cache->catlist, [&](uint64_t address) {
    const uint8_t* category =
        inMapping(cache->objc_const_mapped, &cache->objc_const, address, layout.categorySize);
    if (category == nullptr) return DZCRASH_INVALID_DATA;
    const uint64_t classAddress = loadPointer(image, category + layout.pointer);
    const uint64_t instanceMethods = loadPointer(image, category + 2 * layout.pointer);
    const uint64_t classMethods = loadPointer(image, category + 3 * layout.pointer);

    // The class may live in another image: then it is read from the task.
    uint8_t cls[kLayout64.classSize];
    if (const uint8_t* local = findClass(cache, layout, classAddress)) {
      DZcrash_async_memcpy(cls, local, layout.classSize);
    } else if (readTask(image, classAddress, cls, layout.classSize) != DZCRASH_OK) {
      return DZCRASH_INVALID_DATA;
    }
    ClassRO ro;
    dzcrash_error_t err = classData(image, cache, loadPointer(image, cls + layout.classData), &ro);
    if (err == DZCRASH_OK) {
      // A category's methods carry the name of the class they extend.
      dzcrash_async_macho_string className;
      DZcrash_async_macho_string_init(&className, image, ro.name);
      err = reportMethodList(image, cache, false, &className, instanceMethods, callback, context);
      if (err == DZCRASH_OK)
        err = reportMethodList(image, cache, true, &className, classMethods, callback, context);
      DZcrash_async_macho_string_free(&className);
    }
    return err == DZCRASH_NOT_FOUND ? DZCRASH_OK : err;
  });
}

dzcrash_error_t parseObjC2(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache,
                           dzcrash_async_objc_found_method_cb callback, void* context) {
  dzcrash_error_t err = mapSections(image, cache);
  if (err != DZCRASH_OK) return err;
  err = parseClasses(image, cache, callback, context);
  if (err != DZCRASH_OK) return err;
  return parseCategories(image, cache, callback, context);
}

// ---- First-generation metadata ----------------------------------------------------------------------

dzcrash_error_t reportObjC1MethodList(dzcrash_async_macho* image, bool isMeta,
                                      dzcrash_async_macho_string* className, uint64_t list,
                                      dzcrash_async_objc_found_method_cb callback, void* context) {
  if (list == 0) return DZCRASH_OK;
  uint8_t head[kObjC1MethodListHead];
  dzcrash_error_t err = readTask(image, list, head, sizeof(head));
  if (err != DZCRASH_OK) return err;
  const uint32_t count = load32(image, head + 4);
  if (count == 0) return DZCRASH_OK;
  // One mapping for the whole list: a count past readable memory fails here, not entry by entry.
  dzcrash_async_mobject entries;
  err = DZcrash_async_mobject_init(&entries, image->task, list + kObjC1MethodListHead,
                                   uint64_t{count} * kObjC1MethodSize, true);
  if (err != DZCRASH_OK) return err;
  const auto* local = reinterpret_cast<const uint8_t*>(entries.address);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = local + static_cast<size_t>(i) * kObjC1MethodSize;
    dzcrash_async_macho_string methodName;
    DZcrash_async_macho_string_init(&methodName, image, load32(image, entry));
    callback(isMeta, className, &methodName, load32(image, entry + 8), context);
    DZcrash_async_macho_string_free(&methodName);
  }
  DZcrash_async_mobject_free(&entries);
  return DZCRASH_OK;
}

dzcrash_error_t reportObjC1Class(dzcrash_async_macho* image, const uint8_t* cls, bool isMeta,
                                 dzcrash_async_objc_found_method_cb callback, void* context) {
  const uint32_t info = load32(image, cls + kObjC1ClassInfo);
  const uint32_t methods = load32(image, cls + kObjC1ClassMethods);
  dzcrash_async_macho_string className;
  DZcrash_async_macho_string_init(&className, image, load32(image, cls + kObjC1ClassName));
  dzcrash_error_t err = DZCRASH_OK;
  if ((info & kObjC1NoMethodArray) != 0) {
    err = reportObjC1MethodList(image, isMeta, &className, methods, callback, context);
  } else if (methods != 0) {
    // An array of method lists, ended by 0 or -1.
    for (uint64_t at = methods;; at += 4) {
      uint8_t word[4];
      err = readTask(image, at, word, sizeof(word));
      if (err != DZCRASH_OK) break;
      const uint32_t list = load32(image, word);
      if (list == 0 || list == kObjC1MethodArrayEnd) break;
      err = reportObjC1MethodList(image, isMeta, &className, list, callback, context);
      if (err != DZCRASH_OK) break;
    }
  }
  DZcrash_async_macho_string_free(&className);
  return err;
}

dzcrash_error_t parseObjC1Module(dzcrash_async_macho* image, uint32_t symtab,
                                 dzcrash_async_objc_found_method_cb callback, void* context) {
  uint8_t head[kObjC1SymtabHeadSize];
  dzcrash_error_t err = readTask(image, symtab, head, sizeof(head));
  if (err != DZCRASH_OK) return err;
  const uint16_t classCount = load16(image, head + kObjC1SymtabClassCount);
  for (uint32_t i = 0; i < classCount; ++i) {
    uint8_t word[4];
    err = readTask(image, uint64_t{symtab} + kObjC1SymtabHeadSize + 4 * i, word, sizeof(word));
    if (err != DZCRASH_OK) return err;
    uint8_t cls[kObjC1ClassSize];
    err = readTask(image, load32(image, word), cls, sizeof(cls));
    if (err != DZCRASH_OK) return err;
    err = reportObjC1Class(image, cls, false, callback, context);
    if (err != DZCRASH_OK) return err;
    uint8_t meta[kObjC1ClassSize];
    err = readTask(image, untaggedIsa(load32(image, cls)), meta, sizeof(meta));
    if (err != DZCRASH_OK) return err;
    err = reportObjC1Class(image, meta, true, callback, context);
    if (err != DZCRASH_OK) return err;
  }
  return DZCRASH_OK;
}

// DZCRASH_NOT_FOUND when the image has no first-generation metadata.
dzcrash_error_t parseObjC1(dzcrash_async_macho* image, dzcrash_async_objc_found_method_cb callback,
                           void* context) {
  dzcrash_async_mobject modules;
  dzcrash_error_t err = DZcrash_async_macho_map_section(image, "__OBJC", "__module_info", &modules);
  if (err != DZCRASH_OK) return err;
  const uint64_t base = DZcrash_async_mobject_base_address(&modules);
  const uint64_t count = DZcrash_async_mobject_length(&modules) / kObjC1ModuleSize;
  for (uint64_t i = 0; i < count && err == DZCRASH_OK; ++i) {
    const uint8_t* module = inMapping(true, &modules, base + i * kObjC1ModuleSize, kObjC1ModuleSize);
    const uint32_t symtab = module != nullptr ? load32(image, module + kObjC1ModuleSymtab) : 0;
    if (symtab != 0) err = parseObjC1Module(image, symtab, callback, context);
  }
  DZcrash_async_mobject_free(&modules);
  return err;
}

// ---- The two passes of a method lookup -------------------------------------------------------------

struct BestMethod {
  uint64_t pc;
  uint64_t best;
};

void keepBest(bool, dzcrash_async_macho_string*, dzcrash_async_macho_string*, uint64_t imp, void* context) {
  auto* state = static_cast<BestMethod*>(context);
  if (imp <= state->pc && imp >= state->best) state->best = imp;
}

struct ReportBest {
  uint64_t best;
  bool called;
  dzcrash_async_objc_found_method_cb callback;
  void* context;
};

void reportBest(bool isMeta, dzcrash_async_macho_string* className, dzcrash_async_macho_string* methodName,
                uint64_t imp, void* context) {
  auto* state = static_cast<ReportBest*>(context);
  if (state->called || imp != state->best) return;
  state->called = true;
  state->callback(isMeta, className, methodName, imp, state->context);
}

}  // namespace

dzcrash_error_t DZcrash_async_objc_cache_init(dzcrash_async_objc_cache* cache) {
  DZcrash_async_memset(cache, 0, sizeof(*cache));
  return DZCRASH_OK;
}

void DZcrash_async_objc_cache_free(dzcrash_async_objc_cache* cache) {
  freeSections(cache);
  if (cache->class_cache_keys != nullptr) munmap(cache->class_cache_keys, kClassCacheBytes);
  cache->class_cache_keys = nullptr;
  cache->class_cache_values = nullptr;
  cache->class_cache_size = 0;
  cache->class_cache_tried = false;
}

dzcrash_error_t dzcrash_async_objc_parse(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache,
                                         dzcrash_async_objc_found_method_cb callback, void* context) {
  if (cache == nullptr) return DZCRASH_ACCESS_DENIED;
  if (!cache->got_objc2_info) {
    const dzcrash_error_t err = parseObjC1(image, callback, context);
    if (err != DZCRASH_NOT_FOUND) return err;
  }
  const dzcrash_error_t err = parseObjC2(image, cache, callback, context);
  if (err == DZCRASH_OK) cache->got_objc2_info = true;
  return err;
}

dzcrash_error_t DZcrash_async_objc_find_method(dzcrash_async_macho* image, dzcrash_async_objc_cache* cache,
                                               uint64_t pc, dzcrash_async_objc_found_method_cb callback,
                                               void* context) {
  BestMethod first = {pc, 0};
  dzcrash_error_t err = dzcrash_async_objc_parse(image, cache, keepBest, &first);
  if (err != DZCRASH_OK) return err;
  if (first.best == 0) return DZCRASH_NOT_FOUND;
  ReportBest second = {first.best, false, callback, context};
  err = dzcrash_async_objc_parse(image, cache, reportBest, &second);
  if (second.called) return DZCRASH_OK;
  return err != DZCRASH_OK ? err : DZCRASH_NOT_FOUND;
}

}  // namespace dzcrash
