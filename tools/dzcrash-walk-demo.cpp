// Maps the x86-64 walk fixture (tests/fixtures/macho/x86_64/libfx_walk.dylib) into this process, calls
// through its functions down to a capture of the running thread, walks the stack from there with the
// crash reporter's frame cursor, and prints each frame with its symbol and the reader that unwound it.
// The second walk starts below a function that ends in a call that never returns.
//   dzcrash-walk-demo PATH/TO/libfx_walk.dylib

#include <cinttypes>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <string>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashMachOMapping.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

using namespace dzcrash;

namespace {

constexpr size_t kMaxFrames = 16;

struct Walk {
  dzcrash_async_image_list* images;
  std::jmp_buf* escape;
  uint64_t ips[kMaxFrames];
  dzframe_cursor_frame_reader readers[kMaxFrames];
  size_t count;
  dzframe_error_t end;
};

dzcrash_error_t walkFromHere(dzcrash_async_thread_state* state, void* context) {
  auto* walk = static_cast<Walk*>(context);
  dzframe_cursor cursor;
  DZframe_cursor_init(&cursor, DZcrash_async_task_self(), state, walk->images);
  walk->count = 0;
  while (walk->count < kMaxFrames && (walk->end = DZframe_cursor_next(&cursor)) == DZFRAME_OK) {
    walk->ips[walk->count] = DZcrash_async_thread_state_get_reg(&cursor.frame, DZCRASH_REG_IP);
    walk->readers[walk->count] = cursor.reader;
    ++walk->count;
  }
  DZframe_cursor_free(&cursor);
  if (walk->escape != nullptr) std::longjmp(*walk->escape, 1);
  return DZCRASH_OK;
}

const char* readerName(dzframe_cursor_frame_reader reader) {
  if (reader == nullptr) return "initial state";
  if (reader == DZframe_cursor_read_compact_unwind) return "compact unwind";
  if (reader == DZframe_cursor_read_dwarf_unwind) return "DWARF";
  if (reader == DZframe_cursor_read_frame_ptr) return "frame pointer";
  return "?";
}

struct Symbol {
  uint64_t address = 0;
  std::string name;
};

void remember(uint64_t address, const char* name, void* context) {
  *static_cast<Symbol*>(context) = {address, name};
}

// "image`symbol + offset"; caller frames are looked up one byte before their return address, as the
// walker does, so that a call ending its function names that function.
std::string describe(dzcrash_async_image_list* images, uint64_t ip, bool callerFrame) {
  const uint64_t lookup = callerFrame ? ip - 1 : ip;
  DZcrash_async_image_list_set_reading(images, true);
  dzcrash_async_image* image = DZcrash_async_image_containing_address(images, lookup);
  std::string out = "?";
  if (image != nullptr) {
    Symbol symbol;
    dzcrash_error_t found = DZCRASH_NOT_FOUND;
    if (image->format == DZCRASH_IMAGE_FORMAT_MACHO) {
      found = DZcrash_async_macho_find_symbol_by_pc(static_cast<dzcrash_async_macho*>(image->parsed), lookup,
                                                    remember, &symbol);
    } else if (image->format == DZCRASH_IMAGE_FORMAT_ELF) {
      found = DZcrash_async_elf_find_symbol_by_pc(static_cast<dzcrash_async_elf*>(image->parsed), lookup,
                                                  remember, &symbol);
    }
    const std::string path = image->name;
    out = path.substr(path.rfind('/') + 1) + "`";
    char offset[32];
    std::snprintf(offset, sizeof(offset), " + %" PRIu64, ip - symbol.address);
    out += found == DZCRASH_OK ? symbol.name + offset : "?";
  }
  DZcrash_async_image_list_set_reading(images, false);
  return out;
}

void print(const char* title, const Walk& walk, dzcrash_async_image_list* images) {
  std::printf("%s\n", title);
  for (size_t i = 0; i < walk.count; ++i) {
    std::printf("  #%-2zu 0x%016" PRIx64 "  %-44s  %s\n", i, walk.ips[i],
                describe(images, walk.ips[i], i > 0).c_str(), readerName(walk.readers[i]));
  }
  std::printf("  end: %s\n\n", DZframe_strerror(walk.end));
}

using Call4 = long (*)(const void*, const void*, const void*, const void*);

// Kept out of line and with a frame of its own, so that the walk has a frame of this program to end on.
__attribute__((noinline)) long callThrough(const void* fn, const void* a0, const void* a1, const void* a2,
                                           const void* a3) {
  const long result = reinterpret_cast<Call4>(fn)(a0, a1, a2, a3);
  asm volatile("" ::: "memory");
  return result;
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(__x86_64__)
  (void)argc, (void)argv;
  std::fprintf(stderr, "dzcrash-walk-demo runs x86-64 code and needs an x86-64 host\n");
  return 1;
#else
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/x86_64/libfx_walk.dylib\n", argv[0]);
    return 2;
  }
  std::string error;
  const std::unique_ptr<DZCrashMachOMapping> mapping = DZCrashMachOMapping::load(argv[1], &error);
  if (mapping == nullptr) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  dzcrash_async_image_list images;
  const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
  if (!DZcrash_nasync_image_list_init(&images, DZcrash_async_task_self(), &parser)) return 1;
  DZcrash_nasync_image_list_add_loaded(&images);
  DZcrash_nasync_image_list_append(&images, mapping->headerAddress(), argv[1]);

  DZcrash_async_image_list_set_reading(&images, true);
  dzcrash_async_image* fixture = DZcrash_async_image_containing_address(&images, mapping->headerAddress());
  DZcrash_async_image_list_set_reading(&images, false);
  if (fixture == nullptr || fixture->format != DZCRASH_IMAGE_FORMAT_MACHO) {
    std::fprintf(stderr, "%s is not an x86-64 Mach-O image\n", argv[1]);
    DZcrash_nasync_image_list_free(&images);
    return 1;
  }
  auto* macho = static_cast<dzcrash_async_macho*>(fixture->parsed);
  auto function = [macho](const char* name) {
    uint64_t address = 0;
    DZcrash_async_macho_find_symbol_by_name(macho, name, &address);
    return reinterpret_cast<const void*>(address);
  };
  const char* names[] = {"_fx_walk_dwarf", "_fx_walk_noreturn", "_fx_walk_immediate"};
  for (const char* name : names) {
    if (function(name) == nullptr) {
      std::fprintf(stderr, "%s lacks %s\n", argv[1], name);
      DZcrash_nasync_image_list_free(&images);
      return 1;
    }
  }
  std::printf("libfx_walk.dylib mapped at 0x%" PRIx64 " (slide 0x%" PRIx64 ")\n\n", mapping->headerAddress(),
              static_cast<uint64_t>(mapping->slide()));
  const auto* capture = reinterpret_cast<const void*>(&DZcrash_async_thread_state_current);
  const auto* walker = reinterpret_cast<const void*>(&walkFromHere);

  // Static: the walks fill them between setjmp and longjmp.
  static Walk walk;
  walk.images = &images;
  callThrough(function("_fx_walk_dwarf"), capture, walker, &walk, nullptr);
  print("_fx_walk_dwarf -> _fx_walk_frame -> _fx_walk_indirect -> _fx_walk_immediate -> capture:", walk,
        &images);

  std::jmp_buf escape;
  static Walk noreturn;
  noreturn.images = &images;
  noreturn.escape = &escape;
  if (setjmp(escape) == 0) {
    callThrough(function("_fx_walk_noreturn"), function("_fx_walk_immediate"), capture, walker, &noreturn);
  }
  print("_fx_walk_noreturn (ends in a call that never returns) -> _fx_walk_immediate -> capture:", noreturn,
        &images);

  DZcrash_nasync_image_list_free(&images);
  return 0;
#endif
}
