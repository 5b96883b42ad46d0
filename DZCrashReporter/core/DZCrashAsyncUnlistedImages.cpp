#include "DZCrashReporter/core/DZCrashAsyncUnlistedImages.h"

#include <unistd.h>

namespace dzcrash {

namespace {

struct FindContext {
  dzcrash_async_image_list* list;
  dzcrash_task_t task;
  dzcrash_async_unlisted_images* out;
  // Whether out->program holds the program's own path yet: it is read once.
  bool programRead;
};

// Each object of the map takes at most one record, and a walk visits no more objects than there are
// records: every object the map lists has one.
static_assert(DZCRASH_ASYNC_UNLISTED_IMAGES_MAX >= DZCRASH_ASYNC_RDEBUG_MAX_ENTRIES);

// The program's path, which its entry of the map leaves empty: read once per search.
const char* programPath(FindContext* context, bool* cut) {
  dzcrash_async_unlisted_images* out = context->out;
  if (!context->programRead) {
    const ssize_t n = readlink("/proc/self/exe", out->program, sizeof(out->program) - 1);
    out->program[n > 0 ? n : 0] = '\0';
    // readlink says nothing of a path it had to cut but fills the buffer.
    out->program_cut = n == static_cast<ssize_t>(sizeof(out->program) - 1);
    context->programRead = true;
  }
  *cut = out->program_cut;
  return out->program;
}

bool sameBytes(const void* a, const void* b, size_t length) {
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  for (size_t i = 0; i < length; ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}

bool sameName(const char* a, const char* b) {
  return DZcrash_async_strcmp(a, b) == 0;
}

// Whether a listed image is the object just parsed from the map: the same code at the same place.
bool sameImage(const dzcrash_async_image* listed, const dzcrash_async_elf& loaded) {
  if (listed->format != DZCRASH_IMAGE_FORMAT_ELF || listed->parsed == nullptr ||
      listed->header_address != loaded.header_addr) {
    return false;
  }
  const auto& known = *static_cast<const dzcrash_async_elf*>(listed->parsed);
  return known.load_bias == loaded.load_bias && known.text_start == loaded.text_start &&
         known.text_end == loaded.text_end && known.build_id_length == loaded.build_id_length &&
         sameBytes(known.build_id, loaded.build_id, known.build_id_length) &&
         known.eh_frame_hdr_address == loaded.eh_frame_hdr_address &&
         known.dynsym_address == loaded.dynsym_address;
}

// The listed image that is `loaded`, or null.
dzcrash_async_image* listedImage(const FindContext* context, const dzcrash_async_elf& loaded,
                                 const char* name) {
  dzcrash_async_image_list* list = context->list;
  if (list == nullptr || list->list == nullptr || list->task != context->task) return nullptr;
  dzcrash_async_image* found = nullptr;
  DZcrash_async_image_list_set_reading(list, true);
  for (auto* image = DZcrash_async_image_list_next(list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(list, image)) {
    if (sameImage(image, loaded) && sameName(image->name, name)) {
      found = image;
      break;
    }
  }
  DZcrash_async_image_list_set_reading(list, false);
  return found;
}

void pick(dzcrash_async_unlisted_images* out, dzcrash_async_image* image) {
  if (out->picked_count < DZCRASH_ASYNC_LOADED_IMAGES_MAX) out->picked[out->picked_count++] = image;
}

bool takeEntry(const dzcrash_async_rdebug_entry* entry, void* data) {
  auto* context = static_cast<FindContext*>(data);
  dzcrash_async_unlisted_images* out = context->out;
  if (out->picked_count >= DZCRASH_ASYNC_LOADED_IMAGES_MAX) return false;
  const uint64_t header = entry->load_bias;

  // Parsed into the next free record, which it keeps only when the list does not hold it already; its
  // path goes to the next free bytes of names, taken only then.
  if (out->count >= DZCRASH_ASYNC_UNLISTED_IMAGES_MAX) return false;
  const size_t at = out->count;
  dzcrash_async_elf* elf = &out->elves[at];
  bool cut = entry->name_cut;
  const char* path = entry->name[0] != '\0' ? entry->name : programPath(context, &cut);
  char* name = out->names + out->names_used;
  const size_t room = sizeof(out->names) - out->names_used;
  size_t length = 0;
  while (path[length] != '\0' && length + sizeof(DZCRASH_ASYNC_CUT_PATH_MARK) < room) {
    name[length] = path[length];
    ++length;
  }
  if (path[length] != '\0') cut = true;  // never, by the names' size; the mark says so all the same
  if (cut) {
    for (const char c : DZCRASH_ASYNC_CUT_PATH_MARK) name[length++] = c;
  } else {
    name[length++] = '\0';
  }

  if (DZcrash_async_elf_init(elf, context->task, name, header) != DZCRASH_OK ||
      elf->load_bias != entry->load_bias) {
    // A program linked at a fixed address has its header elsewhere than its bias (0); it is never
    // unloaded, so the list's record of it stands.
    if (entry->name[0] == '\0' && context->list != nullptr && context->list->list != nullptr) {
      DZcrash_async_image_list_set_reading(context->list, true);
      for (auto* image = DZcrash_async_image_list_next(context->list, nullptr); image != nullptr;
           image = DZcrash_async_image_list_next(context->list, image)) {
        if (sameName(image->name, path)) {
          pick(out, image);
          break;
        }
      }
      DZcrash_async_image_list_set_reading(context->list, false);
    }
    return true;
  }
  if (dzcrash_async_image* listed = listedImage(context, *elf, path)) {
    pick(out, listed);
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
  out->names_used += length;
  pick(out, image);
  return true;
}

}  // namespace

bool DZcrash_async_find_loaded_images(dzcrash_async_image_list* list, dzcrash_task_t task,
                                      uint64_t rdebug_address, dzcrash_async_unlisted_images* out) {
  out->count = 0;
  out->names_used = 0;
  out->picked_count = 0;
  // The map speaks only for this task's ELF images: the list's others (another task's, Mach-O ones)
  // stay as they are.
  if (list != nullptr && list->list != nullptr) {
    DZcrash_async_image_list_set_reading(list, true);
    for (auto* image = DZcrash_async_image_list_next(list, nullptr); image != nullptr;
         image = DZcrash_async_image_list_next(list, image)) {
      if (list->task != task || image->format != DZCRASH_IMAGE_FORMAT_ELF) pick(out, image);
    }
    DZcrash_async_image_list_set_reading(list, false);
  }
  FindContext context;
  context.list = list;
  context.task = task;
  context.out = out;
  context.programRead = false;
  return DZcrash_async_rdebug_walk(task, rdebug_address, &out->entry, takeEntry, &context) == DZCRASH_OK;
}

void DZcrash_async_current_images(dzcrash_async_image_list* list, dzcrash_async_unlisted_images* out,
                                  dzcrash_async_image_list* view) {
  if (DZcrash_async_find_loaded_images(list, DZcrash_async_task_self(), DZcrash_async_rdebug_address(),
                                       out)) {
    DZcrash_async_image_list_pick_init(view, list, out->picked, out->picked_count);
  } else {
    DZcrash_async_image_list_view_init(view, list, out->images, out->count);
  }
}

}  // namespace dzcrash
