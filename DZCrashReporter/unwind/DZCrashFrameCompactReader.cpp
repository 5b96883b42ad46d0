#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/unwind/DZCrashAsyncCompactUnwind.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash {

namespace {

dzframe_error_t applyCompactUnwind(dzcrash_task_t task, const dzframe_image_lookup& lookup,
                                   const dzcrash_async_thread_state* current,
                                   dzcrash_async_thread_state* next) {
  // Only Mach-O images carry compact unwind information.
  if (lookup.image->format != DZCRASH_IMAGE_FORMAT_MACHO) return DZFRAME_NOT_SUPPORTED;
  auto* image = static_cast<dzcrash_async_macho*>(lookup.image->parsed);

  dzcrash_async_mobject section;
  if (DZcrash_async_macho_map_section(image, "__TEXT", "__unwind_info", &section) != DZCRASH_OK) {
    return DZFRAME_NOT_SUPPORTED;
  }
  dzframe_error_t result = DZFRAME_OK;
  dzcrash_async_cfe_reader reader;
  uint64_t functionOffset = 0;
  uint32_t encoding = 0;
  dzcrash_async_cfe_entry entry;
  uint64_t functionAddress = 0;
  const uint32_t cpuType = DZcrash_async_macho_cpu_type(image);
  if (DZcrash_async_cfe_reader_init(&reader, &section, cpuType) != DZCRASH_OK) {
    result = DZFRAME_INVALID_ARGUMENT;
  } else {
    const dzcrash_error_t found = DZcrash_async_cfe_reader_find_pc(
        &reader, lookup.address - image->header_addr, &functionOffset, &encoding);
    DZcrash_async_cfe_reader_free(&reader);
    if (found != DZCRASH_OK || DZcrash_async_cfe_entry_init(&entry, cpuType, encoding) != DZCRASH_OK) {
      result = DZFRAME_NOT_SUPPORTED;
    } else {
      if (DZcrash_async_cfe_entry_type(&entry) == DZCRASH_ASYNC_CFE_TYPE_NONE) {
        result = DZFRAME_NO_FRAME;
      } else if (!DZcrash_async_address_apply_offset(image->header_addr, static_cast<int64_t>(functionOffset),
                                                     &functionAddress)) {
        result = DZFRAME_INVALID_ARGUMENT;
      } else if (DZcrash_async_cfe_entry_apply(task, functionAddress, current, &entry, next) != DZCRASH_OK) {
        // DWARF-only functions end here too; the next reader takes them.
        result = DZFRAME_NO_FRAME;
      }
      DZcrash_async_cfe_entry_free(&entry);
    }
  }
  DZcrash_async_mobject_free(&section);
  return result;
}

}  // namespace

dzframe_error_t DZframe_cursor_read_compact_unwind(dzcrash_task_t task, dzcrash_async_image_list* image_list,
                                                   const dzcrash_async_thread_state* current,
                                                   const dzcrash_async_thread_state* previous,
                                                   dzcrash_async_thread_state* next) {
  dzframe_image_lookup lookup;
  const dzframe_error_t found = DZframe_image_lookup_begin(&lookup, task, image_list, current, previous);
  if (found != DZFRAME_OK) return found;
  const dzframe_error_t result = applyCompactUnwind(task, lookup, current, next);
  DZframe_image_lookup_end(&lookup);
  return result;
}

}  // namespace dzcrash
