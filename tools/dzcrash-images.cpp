// Lists the ELF images of this process as the crash reporter records them: header address, code
// extent, build id, processor, unwind index and path.

#include <cinttypes>
#include <cstdio>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"

using namespace dzcrash;

int main() {
  dzcrash_async_image_list list;
  const dzcrash_image_parser parser = DZcrash_elf_image_parser();
  if (!DZcrash_nasync_image_list_init(&list, DZcrash_async_task_self(), &parser)) return 1;
  DZcrash_nasync_image_list_add_loaded(&list);
  DZcrash_async_image_list_set_reading(&list, true);
  for (auto* image = DZcrash_async_image_list_next(&list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(&list, image)) {
    const auto* elf = static_cast<const dzcrash_async_elf*>(image->parsed);
    char buildId[2 * DZCRASH_ELF_BUILD_ID_MAX + 1] = "-";
    for (size_t i = 0; i < elf->build_id_length; ++i)
      std::snprintf(buildId + 2 * i, 3, "%02x", elf->build_id[i]);
    uint64_t type = 0, subtype = 0;
    const bool known = DZcrash_async_elf_processor(elf, &type, &subtype);
    std::printf("0x%012" PRIx64 " text 0x%012" PRIx64 "-0x%012" PRIx64 " cpu %s0x%" PRIx64 "/%" PRIu64
                " eh_frame_hdr 0x%" PRIx64 " build-id %s %s\n",
                image->header_address, elf->text_start, elf->text_end, known ? "" : "unknown ", type, subtype,
                elf->eh_frame_hdr_address, buildId, image->name);
  }
  DZcrash_async_image_list_set_reading(&list, false);
  DZcrash_nasync_image_list_free(&list);
  return 0;
}
