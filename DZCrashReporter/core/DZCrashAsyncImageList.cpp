#include "DZCrashReporter/core/DZCrashAsyncImageList.h"

#include <link.h>
#include <unistd.h>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace dzcrash {

dzcrash_async_image_list shared_image_list = {nullptr, {nullptr, nullptr, nullptr}, nullptr, {nullptr}};

namespace {

void freeImage(dzcrash_async_image_list* list, dzcrash_async_image* image) {
  if (list->parser.nasync_free != nullptr) list->parser.nasync_free(image, list->parser.context);
  std::free(image->name);
  std::free(image);
}
}  // namespace

bool DZcrash_nasync_image_list_init(dzcrash_async_image_list* list, dzcrash_task_t task,
                                    const dzcrash_image_parser* parser) {
  list->task = task;
  list->parser = parser != nullptr ? *parser : dzcrash_image_parser{nullptr, nullptr, nullptr};
  list->retired.store(nullptr);
  list->extra = nullptr;
  list->extra_count = 0;
  list->picked = nullptr;
  list->picked_count = 0;
  list->picked_at = 0;
  list->list = new (std::nothrow) async::async_list<dzcrash_async_image*>();
  return list->list != nullptr;
}

void DZcrash_nasync_image_list_free(dzcrash_async_image_list* list) {
  if (list->list == nullptr) return;
  for (auto* node = list->list->next(nullptr); node != nullptr; node = list->list->next(node)) {
    freeImage(list, node->value());
  }
  for (dzcrash_async_image* image = list->retired.exchange(nullptr); image != nullptr;) {
    dzcrash_async_image* following = image->retired_next;
    freeImage(list, image);
    image = following;
  }
  delete list->list;
  list->list = nullptr;
}

void DZcrash_nasync_image_list_append(dzcrash_async_image_list* list, uint64_t header_address,
                                      const char* name) {
  auto* image = static_cast<dzcrash_async_image*>(std::calloc(1, sizeof(dzcrash_async_image)));
  if (image == nullptr) return;
  image->header_address = header_address;
  image->name = strdup(name != nullptr ? name : "");
  if (image->name == nullptr) {
    std::free(image);
    return;
  }
  if (list->parser.nasync_init != nullptr &&
      list->parser.nasync_init(image, list->task, list->parser.context) != DZCRASH_OK) {
    std::free(image->name);
    std::free(image);
    return;
  }
  if (!list->list->nasync_append(image)) freeImage(list, image);
}

void DZcrash_nasync_image_list_remove(dzcrash_async_image_list* list, uint64_t header_address) {
  // Counted in as a reader, so the node is parked rather than freed under a concurrent crash handler.
  list->list->set_reading(true);
  for (auto* node = list->list->next(nullptr); node != nullptr; node = list->list->next(node)) {
    dzcrash_async_image* image = node->value();
    if (image->header_address == header_address) {
      // A concurrent remove of the same image may have unlinked it first.
      if (!list->list->nasync_remove_node(node)) break;
      image->retired_next = list->retired.load();
      while (!list->retired.compare_exchange_weak(image->retired_next, image)) {
      }
      break;
    }
  }
  list->list->set_reading(false);
}

const ElfW(Phdr) * DZcrash_header_segment(const dl_phdr_info* info) {
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_offset == 0) return &info->dlpi_phdr[i];
  }
  return nullptr;
}

namespace {

struct AddLoadedContext {
  dzcrash_async_image_list* list;
  size_t added;
};

int addLoadedObject(dl_phdr_info* info, size_t, void* data) {
  auto* context = static_cast<AddLoadedContext*>(data);
  const ElfW(Phdr)* headerSegment = DZcrash_header_segment(info);
  if (headerSegment == nullptr) return 0;
  const uint64_t header = static_cast<uint64_t>(info->dlpi_addr) + headerSegment->p_vaddr;
  if (DZcrash_async_image_list_holds(context->list, header)) return 0;

  const char* name = info->dlpi_name;
  char exe[PATH_MAX];
  if (name == nullptr || name[0] == '\0') {
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    exe[n > 0 ? n : 0] = '\0';
    name = exe;
  }
  DZcrash_nasync_image_list_append(context->list, header, name);
  if (DZcrash_async_image_list_holds(context->list, header)) ++context->added;
  return 0;
}

}  // namespace

size_t DZcrash_nasync_image_list_add_loaded(dzcrash_async_image_list* list) {
  AddLoadedContext context = {list, 0};
  dl_iterate_phdr(addLoadedObject, &context);
  return context.added;
}

// async-signal-safe.
void DZcrash_async_image_list_view_init(dzcrash_async_image_list* view, const dzcrash_async_image_list* base,
                                        dzcrash_async_image* extra, size_t extra_count) {
  view->task = base != nullptr ? base->task : nullptr;
  view->parser = base != nullptr ? base->parser : dzcrash_image_parser{nullptr, nullptr, nullptr};
  view->list = base != nullptr ? base->list : nullptr;
  view->retired.store(nullptr);
  view->extra = extra;
  view->extra_count = extra_count;
  view->picked = nullptr;
  view->picked_count = 0;
  view->picked_at = 0;
}

// async-signal-safe.
void DZcrash_async_image_list_pick_init(dzcrash_async_image_list* view, const dzcrash_async_image_list* base,
                                        dzcrash_async_image* const* picked, size_t picked_count) {
  DZcrash_async_image_list_view_init(view, base, nullptr, 0);
  view->picked = picked;
  view->picked_count = picked_count;
}

// async-signal-safe.
void DZcrash_async_image_list_set_reading(dzcrash_async_image_list* list, bool enable) {
  if (list->list != nullptr) list->list->set_reading(enable);
}

// async-signal-safe.
dzcrash_async_image* DZcrash_async_image_list_next(dzcrash_async_image_list* list,
                                                   dzcrash_async_image* current) {
  if (list->picked != nullptr) {
    size_t next = 0;
    if (current != nullptr) {
      size_t at = list->picked_at;
      if (at >= list->picked_count || list->picked[at] != current) {
        // A walk of its own ran in between: find the current image again.
        for (at = 0; at < list->picked_count && list->picked[at] != current; ++at) {
        }
      }
      next = at + 1;
    }
    if (next >= list->picked_count) return nullptr;
    list->picked_at = next;
    return list->picked[next];
  }
  const auto extraStart = reinterpret_cast<uintptr_t>(list->extra);
  const auto at = reinterpret_cast<uintptr_t>(current);
  if (current != nullptr && list->extra_count > 0 && at >= extraStart &&
      at < extraStart + list->extra_count * sizeof(dzcrash_async_image)) {
    const size_t index = static_cast<size_t>(current - list->extra) + 1;
    return index < list->extra_count ? &list->extra[index] : nullptr;
  }
  dzcrash_async_image_node* node = nullptr;
  if (list->list != nullptr) node = list->list->next(current == nullptr ? nullptr : current->node);
  if (node == nullptr) return list->extra_count > 0 ? &list->extra[0] : nullptr;
  dzcrash_async_image* image = node->value();
  image->node = node;
  return image;
}

// async-signal-safe.
bool DZcrash_async_image_list_holds(dzcrash_async_image_list* list, uint64_t header_address) {
  bool found = false;
  DZcrash_async_image_list_set_reading(list, true);
  for (auto* image = DZcrash_async_image_list_next(list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(list, image)) {
    if (image->header_address == header_address) {
      found = true;
      break;
    }
  }
  DZcrash_async_image_list_set_reading(list, false);
  return found;
}

// async-signal-safe.
bool DZcrash_async_image_contains_address(const dzcrash_async_image* image, uint64_t address) {
  return address >= image->header_address && address - image->header_address < image->size;
}

// async-signal-safe.
dzcrash_async_image* DZcrash_async_image_containing_address(dzcrash_async_image_list* list,
                                                            uint64_t address) {
  for (auto* image = DZcrash_async_image_list_next(list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(list, image)) {
    if (DZcrash_async_image_contains_address(image, address)) return image;
  }
  return nullptr;
}

// async-signal-safe.
uint64_t DZcrash_async_rdebug_address() {
  return reinterpret_cast<uint64_t>(&_r_debug);
}

// async-signal-safe.
dzcrash_error_t DZcrash_async_rdebug_walk(dzcrash_task_t task, uint64_t rdebug_address,
                                          dzcrash_async_rdebug_entry* out,
                                          dzcrash_async_rdebug_callback callback, void* context) {
  const dzcrash_async_byteorder_t* host = DZcrash_async_byteorder_little_endian();
  uint64_t entry = 0;
  dzcrash_error_t err =
      DZcrash_async_task_read_uint64(task, host, rdebug_address, offsetof(struct r_debug, r_map), &entry);
  if (err != DZCRASH_OK) return err;

  for (size_t count = 0; entry != 0 && count < DZCRASH_ASYNC_RDEBUG_MAX_ENTRIES; ++count) {
    uint64_t nameAddress = 0;
    uint64_t next = 0;
    if ((err = DZcrash_async_task_read_uint64(task, host, entry, offsetof(struct link_map, l_addr),
                                              &out->load_bias)) != DZCRASH_OK ||
        (err = DZcrash_async_task_read_uint64(task, host, entry, offsetof(struct link_map, l_name),
                                              &nameAddress)) != DZCRASH_OK ||
        (err = DZcrash_async_task_read_uint64(task, host, entry, offsetof(struct link_map, l_ld),
                                              &out->dynamic_address)) != DZCRASH_OK ||
        (err = DZcrash_async_task_read_uint64(task, host, entry, offsetof(struct link_map, l_next), &next)) !=
            DZCRASH_OK) {
      return err;
    }
    // The path is read in chunks up to its NUL; an unreadable path leaves the entry nameless, one that
    // stops being readable or does not end in the buffer leaves it cut.
    size_t length = 0;
    out->name_cut = false;
    if (nameAddress != 0) {
      constexpr size_t kChunk = 256;
      const size_t room = sizeof(out->name) - 1;
      for (;;) {
        if (length == room) {
          char following = 1;
          size_t got = 0;
          DZcrash_async_task_read_partial(task, nameAddress + length, &following, 1, &got);
          out->name_cut = got != 1 || following != '\0';
          break;
        }
        size_t copied = 0;
        const size_t want = room - length < kChunk ? room - length : kChunk;
        DZcrash_async_task_read_partial(task, nameAddress + length, out->name + length, want, &copied);
        size_t i = 0;
        while (i < copied && out->name[length + i] != '\0') ++i;
        length += i;
        if (i < copied) break;
        if (copied < want) {
          out->name_cut = length > 0;
          break;
        }
      }
    }
    out->name[length] = '\0';
    if (!callback(out, context)) return DZCRASH_OK;
    entry = next;
  }
  return DZCRASH_OK;
}

}  // namespace dzcrash
