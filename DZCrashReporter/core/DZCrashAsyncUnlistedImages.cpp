#include "DZCrashReporter/core/DZCrashAsyncUnlistedImages.h"

#include <unistd.h>

namespace dzcrash {

namespace {

struct FindContext {
  dzcrash_async_image_list* list;
  dzcrash_task_t task;
  dzcrash_async_unlisted_images* out;
};

bool takeEntry(const dzcrash_async_rdebug_entry* entry, void* data) {
  auto* context = static_cast<FindContext*>(data);
  dzcrash_async_unlisted_images* out = context->out;
  if (out->count >= DZCRASH_ASYNC_UNLISTED_IMAGES_MAX) return false;
  const uint64_t header = entry->load_bias;
  if (context->list != nullptr && DZcrash_async_image_list_holds(context->list, header)) return true;

  const size_t at = out->count;
  char* name = out->names[at];
  size_t length = 0;
  if (entry->name[0] != '\0') {
    while (entry->name[length] != '\0' && length < sizeof(out->names[at]) - 1) {
      name[length] = entry->name[length];
      ++length;
    }
  } else {
    // The program itself has no name in the map.
    const ssize_t n = readlink("/proc/self/exe", name, sizeof(out->names[at]) - 1);
    length = n > 0 ? static_cast<size_t>(n) : 0;
  }
  name[length] = '\0';

  dzcrash_async_elf* elf = &out->elves[at];
  if (DZcrash_async_elf_init(elf, context->task, name, header) != DZCRASH_OK ||
      elf->load_bias != entry->load_bias) {
    return true;
  }
  dzcrash_async_image* image = &out->images[at];
  DZcrash_async_memset(image, 0, sizeof(*image));
  image->header_address = header;
  image->size = DZcrash_async_elf_code_size(*elf, header);
  image->name = name;
  image->parsed = elf;
  image->format = DZCRASH_IMAGE_FORMAT_ELF;
  ++out->count;
  return true;
}

}  // namespace

size_t DZcrash_async_find_unlisted_images(dzcrash_async_image_list* list, dzcrash_task_t task,
                                          uint64_t rdebug_address, dzcrash_async_unlisted_images* out) {
  out->count = 0;
  FindContext context = {list, task, out};
  DZcrash_async_rdebug_walk(task, rdebug_address, takeEntry, &context);
  return out->count;
}

}  // namespace dzcrash
