#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"

namespace dzcrash {

namespace {

dzcrash_error_t byMagicInit(dzcrash_async_image* image, dzcrash_task_t task, void*) {
  uint8_t magic[4];
  if (DZcrash_async_task_memcpy(task, image->header_address, 0, magic, sizeof(magic)) != DZCRASH_OK) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') {
    const dzcrash_image_parser elf = DZcrash_elf_image_parser();
    return elf.nasync_init(image, task, elf.context);
  }
  uint32_t word;
  DZcrash_async_memcpy(&word, magic, sizeof(word));
  if (word == DZCRASH_MH_MAGIC || word == DZCRASH_MH_CIGAM || word == DZCRASH_MH_MAGIC_64 ||
      word == DZCRASH_MH_CIGAM_64) {
    const dzcrash_image_parser macho = DZcrash_macho_image_parser();
    return macho.nasync_init(image, task, macho.context);
  }
  return DZCRASH_NOT_SUPPORTED;
}

void byMagicFree(dzcrash_async_image* image, void*) {
  dzcrash_image_parser parser;
  switch (image->format) {
    case DZCRASH_IMAGE_FORMAT_ELF:
      parser = DZcrash_elf_image_parser();
      break;
    case DZCRASH_IMAGE_FORMAT_MACHO:
      parser = DZcrash_macho_image_parser();
      break;
    default:
      return;
  }
  parser.nasync_free(image, parser.context);
}

}  // namespace

dzcrash_image_parser DZcrash_image_parser_by_magic() {
  return {byMagicInit, byMagicFree, nullptr};
}

}  // namespace dzcrash
