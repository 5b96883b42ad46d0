#include "DZCrashReporter/report/DZCrashLogWriter.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <set>
#include <string>
#include <utility>

#include "DZCrashReporter/DZCrashReporterLog.h"
#include "DZCrashReporter/capture/DZCrashHostInfo.h"
#include "DZCrashReporter/capture/DZCrashProcessInfo.h"
#include "DZCrashReporter/capture/DZCrashThreadCapture.h"
#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncSignalInfo.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/core/DZCrashAsyncUnlistedImages.h"
#include "DZCrashReporter/report/DZCrashReportFormat.h"
#include "DZCrashReporter/report/DZCrashWriterPack.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

namespace dzcrash {

namespace {

// The longest symbol name either image reader hands out.
constexpr size_t kSymbolNameMax = DZCRASH_ASYNC_SYMBOL_NAME_MAX;
static_assert(DZCRASH_ELF_SYMBOL_NAME_MAX - 1 <= kSymbolNameMax);
// The x86-64 register set is the largest.
constexpr size_t kMaxRegisters = DZCRASH_X86_64_REG_COUNT;
// Where a Mach-O image keeps its crash information, in the order looked at.
constexpr const char* kCrashInfoSegments[] = {"__DATA", "__DATA_CONST", "__DATA_DIRTY"};
constexpr uint64_t kCrashInfoMinSize = 40;
constexpr int64_t kCrashInfoMessageOffset = 8;
constexpr int64_t kCrashInfoMessage2Offset = 32;

using File = dzcrash_async_file_t;

}  // namespace

struct dzcrash_writer_frame {
  uint64_t pc;
  uint64_t symbol_start;
  uint32_t name_offset;
  uint32_t name_length;
  bool has_symbol;
};

struct dzcrash_writer_register {
  const char* name;
  uint64_t value;
};

// One thread (or the exception's call stack) walked once. Both encoder passes read it, so the sizes
// the first pass computes always match the bytes the second writes, whatever the stack or the image
// list do meanwhile.
struct dzcrash_writer_walk {
  pid_t tid;
  bool crashed;
  uint32_t frame_count;
  uint32_t register_count;
  uint32_t names_used;
  dzcrash_writer_frame frames[DZCRASH_WRITER_MAX_FRAMES];
  dzcrash_writer_register registers[kMaxRegisters];
  char names[DZCRASH_WRITER_MAX_FRAMES * kSymbolNameMax];
};

struct dzcrash_log_writer_scratch {
  dzframe_cursor cursor;
  // The crashed thread is walked first, so that room can be kept for it while the threads before it
  // are written; the others, and then the exception's call stack, take turns in `other`.
  dzcrash_writer_walk crashed;
  dzcrash_writer_walk other;
  dzcrash_async_symbol_cache symbols;
  // The images loaded at the write: the caller's list as the dynamic linker's map has it now.
  dzcrash_async_image_list images;
  dzcrash_async_unlisted_images unlisted;
  char crash_info[DZCRASH_WRITER_CRASH_INFO_MAX + 1];
  // The uncaught exception, set aside so that recording it allocates nothing.
  char exception_name[DZCRASH_WRITER_EXCEPTION_NAME_MAX + 1];
  char exception_reason[DZCRASH_WRITER_EXCEPTION_REASON_MAX + 1];
  uint64_t exception_callstack[DZCRASH_WRITER_MAX_FRAMES];
};

namespace {

// ---- Encoding helpers. async-signal-safe. ----

size_t packBytes(File* f, uint32_t field, const void* data, size_t length) {
  const ProtobufCBinaryData value = {length, static_cast<uint8_t*>(const_cast<void*>(data))};
  return DZcrash_writer_pack(f, field, PROTOBUF_C_TYPE_BYTES, &value);
}

size_t packBytes(File* f, uint32_t field, const ProtobufCBinaryData& value) {
  return DZcrash_writer_pack(f, field, PROTOBUF_C_TYPE_BYTES, &value);
}

size_t packString(File* f, uint32_t field, const char* text) {
  return DZcrash_writer_pack(f, field, PROTOBUF_C_TYPE_STRING, text != nullptr ? text : "");
}

size_t packUint64(File* f, uint32_t field, uint64_t value) {
  return DZcrash_writer_pack(f, field, PROTOBUF_C_TYPE_UINT64, &value);
}

size_t packUint32(File* f, uint32_t field, uint32_t value) {
  return DZcrash_writer_pack(f, field, PROTOBUF_C_TYPE_UINT32, &value);
}

size_t packEnum(File* f, uint32_t field, uint32_t value) {
  return DZcrash_writer_pack(f, field, PROTOBUF_C_TYPE_ENUM, &value);
}

size_t packBool(File* f, uint32_t field, bool value) {
  return DZcrash_writer_pack(f, field, PROTOBUF_C_TYPE_BOOL, &value);
}

// Whether `size` more bytes still leave `reserve` bytes under the file's limit.
bool fits(const File* file, size_t size, size_t reserve) {
  if (file->limit_bytes == 0) return true;
  if (file->total_bytes > file->limit_bytes) return false;
  const uint64_t left = file->limit_bytes - file->total_bytes;
  return size <= left && reserve <= left - size;
}

// "#" and the decimal number. async-signal-safe.
void formatNumber(int32_t value, char (&out)[16]) {
  char digits[12];
  size_t count = 0;
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t at = 0;
  out[at++] = '#';
  if (value < 0) out[at++] = '-';
  while (count > 0) out[at++] = digits[--count];
  out[at] = '\0';
}

size_t processorBody(File* f, uint64_t type, uint64_t subtype) {
  return packEnum(f, 1, DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH) +
         packUint64(f, 2, type) + packUint64(f, 3, subtype);
}

// ---- The write's state, on the writing thread's stack. ----

struct Write {
  dzcrash_log_writer_t* writer;
  dzcrash_log_writer_scratch* scratch;
  dzcrash_async_image_list* images;
  const dzcrash_log_signal_info_t* siginfo;
  const dzcrash_async_thread_state* currentState;
  pid_t self;
  bool crashInfoFound;
};

// ---- Walking and symbolication. ----

struct NameTarget {
  dzcrash_writer_walk* walk;
  dzcrash_writer_frame* frame;
};

void keepName(uint64_t address, const char* name, void* context) {
  auto* target = static_cast<NameTarget*>(context);
  dzcrash_writer_walk* walk = target->walk;
  dzcrash_writer_frame* frame = target->frame;
  uint32_t length = 0;
  while (name[length] != '\0' && length < kSymbolNameMax && walk->names_used + length < sizeof(walk->names)) {
    walk->names[walk->names_used + length] = name[length];
    ++length;
  }
  frame->has_symbol = true;
  frame->symbol_start = address;
  frame->name_offset = walk->names_used;
  frame->name_length = length;
  walk->names_used += length;
}

// Names the function that holds `address` (the frame's pc, or one byte before a return address, so
// that a call ending its function is not named after the next one).
void symbolicate(Write& w, dzcrash_writer_walk* walk, dzcrash_writer_frame* frame, uint64_t address) {
  const uint32_t strategy = w.writer->symbolication_strategy;
  if (strategy == DZCRASH_ASYNC_SYMBOL_STRATEGY_NONE) return;
  NameTarget target = {walk, frame};
  DZcrash_async_image_list_set_reading(w.images, true);
  dzcrash_async_image* image = DZcrash_async_image_containing_address(w.images, address);
  if (image != nullptr && image->format == DZCRASH_IMAGE_FORMAT_ELF &&
      (strategy & DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) != 0) {
    DZcrash_async_elf_find_symbol_by_pc(static_cast<dzcrash_async_elf*>(image->parsed), address, keepName,
                                        &target);
  } else if (image != nullptr && image->format == DZCRASH_IMAGE_FORMAT_MACHO) {
    DZcrash_async_find_symbol(static_cast<dzcrash_async_macho*>(image->parsed), strategy, &w.scratch->symbols,
                              address, keepName, &target);
  }
  DZcrash_async_image_list_set_reading(w.images, false);
}

void resetWalk(dzcrash_writer_walk* walk, pid_t tid, bool crashed) {
  walk->tid = tid;
  walk->crashed = crashed;
  walk->frame_count = 0;
  walk->register_count = 0;
  walk->names_used = 0;
}

// Walks a thread's stack into `walk`: up to 512 frames, and the first frame's registers for the
// crashed thread. A thread whose registers are not known gets no frames.
void walkThread(Write& w, dzcrash_writer_walk* walk, pid_t tid, bool crashed) {
  resetWalk(walk, tid, crashed);
  dzframe_cursor* cursor = &w.scratch->cursor;
  const dzcrash_task_t task = DZcrash_async_task_self();
  if (tid == w.self) {
    if (w.currentState == nullptr) return;
    DZframe_cursor_init(cursor, task, w.currentState, w.images);
  } else if (DZframe_cursor_thread_init(cursor, task, tid, w.images) != DZFRAME_OK) {
    return;
  }
  while (walk->frame_count < DZCRASH_WRITER_MAX_FRAMES && DZframe_cursor_next(cursor) == DZFRAME_OK) {
    if (crashed && walk->frame_count == 0) {
      const size_t count = DZframe_cursor_get_regcount(cursor);
      for (uint32_t r = 0; r < count && r < kMaxRegisters; ++r) {
        uint64_t value = 0;
        if (DZframe_cursor_get_reg(cursor, r, &value) != DZFRAME_OK) value = 0;
        walk->registers[walk->register_count++] = {DZframe_cursor_get_regname(cursor, r), value};
      }
    }
    uint64_t pc = 0;
    if (DZframe_cursor_get_reg(cursor, DZCRASH_REG_IP, &pc) != DZFRAME_OK) break;
    dzcrash_writer_frame* frame = &walk->frames[walk->frame_count++];
    *frame = {pc, 0, 0, 0, false};
    const dzcrash_async_thread_state* previous = cursor->depth > 1 ? &cursor->prev_frame : nullptr;
    symbolicate(w, walk, frame, DZframe_cursor_lookup_address(&cursor->frame, previous));
  }
  DZframe_cursor_free(cursor);
}

// The exception's call stack: return addresses, each looked up one byte before.
void walkExceptionStack(Write& w, dzcrash_writer_walk* walk) {
  resetWalk(walk, 0, false);
  const auto& exception = w.writer->uncaught_exception;
  for (size_t i = 0; i < exception.callstack_count && walk->frame_count < DZCRASH_WRITER_MAX_FRAMES; ++i) {
    dzcrash_writer_frame* frame = &walk->frames[walk->frame_count++];
    const uint64_t pc = exception.callstack[i];
    *frame = {pc, 0, 0, 0, false};
    if (pc != 0) symbolicate(w, walk, frame, pc - 1);
  }
}

// ---- Sections. Each returns its size and writes only with a file. ----

size_t frameBody(File* f, const dzcrash_writer_walk& walk, const dzcrash_writer_frame& frame) {
  size_t n = packUint64(f, 3, frame.pc);
  if (frame.has_symbol) {
    n += DZcrash_writer_pack_message(f, 6, [&](File* g) {
      return packBytes(g, 1, walk.names + frame.name_offset, frame.name_length) +
             packUint64(g, 2, frame.symbol_start);
    });
  }
  return n;
}

size_t framesOf(File* f, uint32_t field, const dzcrash_writer_walk& walk) {
  size_t n = 0;
  for (uint32_t i = 0; i < walk.frame_count; ++i) {
    n += DZcrash_writer_pack_message(f, field, [&](File* g) { return frameBody(g, walk, walk.frames[i]); });
  }
  return n;
}

size_t threadEntry(File* f, const dzcrash_writer_walk& walk, uint32_t number) {
  return DZcrash_writer_pack_message(f, 3, [&](File* g) {
    size_t n = packUint32(g, 1, number) + packBool(g, 3, walk.crashed);
    for (uint32_t i = 0; i < walk.register_count; ++i) {
      const dzcrash_writer_register& reg = walk.registers[i];
      n += DZcrash_writer_pack_message(
          g, 4, [&](File* h) { return packString(h, 1, reg.name) + packUint64(h, 2, reg.value); });
    }
    return n + framesOf(g, 2, walk);
  });
}

size_t imageEntry(File* f, const dzcrash_async_image* image) {
  return DZcrash_writer_pack_message(f, 4, [image](File* g) {
    size_t n = packUint64(g, 2, image->size) + packUint64(g, 1, image->header_address) +
               packString(g, 3, image->name);
    if (image->format == DZCRASH_IMAGE_FORMAT_ELF) {
      const auto* elf = static_cast<const dzcrash_async_elf*>(image->parsed);
      if (elf->build_id_length > 0) n += packBytes(g, 4, elf->build_id, elf->build_id_length);
      uint64_t type = 0;
      uint64_t subtype = 0;
      if (DZcrash_async_elf_processor(elf, &type, &subtype)) {
        n += DZcrash_writer_pack_message(g, 5, [&](File* h) { return processorBody(h, type, subtype); });
      }
    } else if (image->format == DZCRASH_IMAGE_FORMAT_MACHO) {
      const auto* macho = static_cast<const dzcrash_async_macho*>(image->parsed);
      // LC_UUID: the command head, then the 16 bytes.
      const auto* command =
          static_cast<const uint8_t*>(DZcrash_async_macho_find_command(macho, DZCRASH_LC_UUID));
      if (command != nullptr) {
        dzcrash_macho_load_command head;
        DZcrash_async_memcpy(&head, command, sizeof(head));
        if (macho->byteorder->swap32(head.cmdsize) >= sizeof(head) + 16) {
          n += packBytes(g, 4, command + sizeof(head), 16);
        }
      }
      const uint64_t type = DZcrash_async_macho_cpu_type(macho);
      const uint64_t subtype = DZcrash_async_macho_cpu_subtype(macho);
      n += DZcrash_writer_pack_message(g, 5, [&](File* h) { return processorBody(h, type, subtype); });
    }
    return n;
  });
}

size_t signalEntry(File* f, const Write& w) {
  return DZcrash_writer_pack_message(f, 6, [&w](File* g) {
    const dzcrash_log_bsd_signal_info_t* bsd = w.siginfo != nullptr ? w.siginfo->bsd_info : nullptr;
    const int32_t signo = bsd != nullptr ? bsd->signo : 0;
    const int32_t code = bsd != nullptr ? bsd->code : 0;
    char number[16];
    const char* name = DZcrash_async_signal_signame(signo);
    size_t n = 0;
    if (name != nullptr) {
      n += packString(g, 1, name);
    } else {
      formatNumber(signo, number);
      n += packString(g, 1, number);
    }
    const char* codeName = DZcrash_async_signal_sigcode(signo, code);
    if (codeName != nullptr) {
      n += packString(g, 2, codeName);
    } else {
      formatNumber(code, number);
      n += packString(g, 2, number);
    }
    n += packUint64(g, 3, bsd != nullptr ? bsd->address : 0);
    const dzcrash_log_mach_signal_info_t* mach = w.siginfo != nullptr ? w.siginfo->mach_info : nullptr;
    if (mach != nullptr) {
      n += DZcrash_writer_pack_message(g, 4, [mach](File* h) {
        size_t m = packUint64(h, 1, mach->type);
        for (size_t i = 0; i < mach->code_count; ++i) m += packUint64(h, 2, mach->code[i]);
        return m;
      });
    }
    if (w.crashInfoFound && w.scratch->crash_info[0] != '\0') n += packString(g, 5, w.scratch->crash_info);
    return n;
  });
}

size_t exceptionEntry(File* f, const Write& w) {
  return DZcrash_writer_pack_message(f, 5, [&w](File* g) {
    const auto& exception = w.writer->uncaught_exception;
    return packString(g, 1, exception.name) + packString(g, 2, exception.reason) +
           framesOf(g, 3, w.scratch->other);
  });
}

size_t reportInfoEntry(File* f, const dzcrash_log_writer_t* writer) {
  return DZcrash_writer_pack_message(f, 9, [writer](File* g) {
    return packBool(g, 1, writer->user_requested) + packBytes(g, 2, writer->uuid, sizeof(writer->uuid));
  });
}

size_t systemInfoEntry(File* f, const dzcrash_log_writer_t* writer, int64_t timestamp) {
  return DZcrash_writer_pack_message(f, 1, [writer, timestamp](File* g) {
    return packEnum(g, 1, DZCRASH_HOST_OPERATING_SYSTEM) + packBytes(g, 2, writer->system_info.os_version) +
           packBytes(g, 5, writer->system_info.os_build) + packEnum(g, 3, DZCRASH_HOST_ARCHITECTURE) +
           DZcrash_writer_pack(g, 4, PROTOBUF_C_TYPE_INT64, &timestamp);
  });
}

size_t machineInfoEntry(File* f, const dzcrash_log_writer_t* writer) {
  return DZcrash_writer_pack_message(f, 8, [writer](File* g) {
    const auto& machine = writer->machine_info;
    size_t n = 0;
    if (machine.model.len > 0) n += packBytes(g, 1, machine.model);
    n += DZcrash_writer_pack_message(
        g, 2, [&](File* h) { return processorBody(h, machine.cpu_type, machine.cpu_subtype); });
    return n + packUint32(g, 3, machine.processor_count) + packUint32(g, 4, machine.logical_processor_count);
  });
}

size_t applicationInfoEntry(File* f, const dzcrash_log_writer_t* writer) {
  return DZcrash_writer_pack_message(f, 2, [writer](File* g) {
    const auto& app = writer->application_info;
    size_t n = packBytes(g, 1, app.identifier) + packBytes(g, 2, app.version);
    if (app.marketing_version.data != nullptr) n += packBytes(g, 3, app.marketing_version);
    return n;
  });
}

size_t processInfoEntry(File* f, const dzcrash_log_writer_t* writer) {
  return DZcrash_writer_pack_message(f, 7, [writer](File* g) {
    const auto& process = writer->process_info;
    size_t n = 0;
    if (process.process_name.data != nullptr) n += packBytes(g, 1, process.process_name);
    n += packUint32(g, 2, process.process_id);
    if (process.process_path.data != nullptr) n += packBytes(g, 3, process.process_path);
    if (process.parent_process_name.data != nullptr) n += packBytes(g, 4, process.parent_process_name);
    return n + packUint32(g, 5, process.parent_process_id) + packBool(g, 6, process.native) +
           packUint64(g, 7, process.start_time);
  });
}

bool copyAbortMessage(uint64_t pointer_address, char* buffer);

// Finds the crash-information message (the faulting image first, then every image in order, then the C
// library's abort message) and returns the size of the smallest image entry, which a capped report
// keeps room for.
size_t surveyImages(Write& w) {
  char* buffer = w.scratch->crash_info;
  buffer[0] = '\0';
  w.crashInfoFound = false;
  size_t smallest = 0;
  bool any = false;
  DZcrash_async_image_list_set_reading(w.images, true);
  const uint64_t address =
      w.siginfo != nullptr && w.siginfo->bsd_info != nullptr ? w.siginfo->bsd_info->address : 0;
  if (address != 0) {
    dzcrash_async_image* faulting = DZcrash_async_image_containing_address(w.images, address);
    if (faulting != nullptr && faulting->format == DZCRASH_IMAGE_FORMAT_MACHO) {
      w.crashInfoFound = DZcrash_writer_extract_crash_info_message(
          static_cast<dzcrash_async_macho*>(faulting->parsed), buffer);
    }
  }
  for (auto* image = DZcrash_async_image_list_next(w.images, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(w.images, image)) {
    const size_t size = imageEntry(nullptr, image);
    if (!any || size < smallest) smallest = size;
    any = true;
    if (!w.crashInfoFound && image->format == DZCRASH_IMAGE_FORMAT_MACHO) {
      w.crashInfoFound =
          DZcrash_writer_extract_crash_info_message(static_cast<dzcrash_async_macho*>(image->parsed), buffer);
    }
  }
  DZcrash_async_image_list_set_reading(w.images, false);
  if (!w.crashInfoFound) w.crashInfoFound = copyAbortMessage(w.writer->abort_message_address, buffer);
  return smallest;
}

int64_t wallClockSeconds() {
  timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
  return now.tv_sec;
}

// Copies the C string at `address` in the task, cut at the limit. False when it cannot be read to its
// end or the cut. async-signal-safe.
bool copyTaskString(dzcrash_task_t task, uint64_t address, char* buffer) {
  if (address == 0) return false;
  size_t length = 0;
  while (length < DZCRASH_WRITER_CRASH_INFO_MAX) {
    const size_t want =
        DZCRASH_WRITER_CRASH_INFO_MAX - length < 64 ? DZCRASH_WRITER_CRASH_INFO_MAX - length : 64;
    size_t copied = 0;
    DZcrash_async_task_read_partial(task, address + length, buffer + length, want, &copied);
    for (size_t i = 0; i < copied; ++i) {
      if (buffer[length + i] == '\0') return true;
    }
    length += copied;
    if (copied < want) {
      buffer[0] = '\0';
      return false;
    }
  }
  buffer[DZCRASH_WRITER_CRASH_INFO_MAX] = '\0';
  return true;
}

// glibc's abort message: a record {unsigned size; char message[]} that __abort_msg points to once set.
// async-signal-safe.
bool copyAbortMessage(uint64_t pointer_address, char* buffer) {
  if (pointer_address == 0) return false;
  const dzcrash_task_t task = DZcrash_async_task_self();
  uint64_t record = 0;
  if (DZcrash_async_task_read_uint64(task, DZcrash_async_byteorder_little_endian(), pointer_address, 0,
                                     &record) != DZCRASH_OK) {
    return false;
  }
  return record != 0 && copyTaskString(task, record + sizeof(uint32_t), buffer);
}

// Copies `text` (null: "") into `out` (max + 1 bytes), cut to at most `max` bytes at the start of a
// UTF-8 sequence, NUL-terminated. Allocates nothing.
void copyCut(char* out, const char* text, size_t max) {
  size_t length = 0;
  if (text != nullptr) {
    while (length < max && text[length] != '\0') ++length;
    if (text[length] != '\0') {
      // Cut before a sequence the limit would split: back over its continuation bytes and its lead.
      size_t cut = length;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      if (cut > 0 || (static_cast<unsigned char>(text[0]) & 0xC0) != 0x80) length = cut;
    }
    DZcrash_async_memcpy(out, text, length);
  }
  out[length] = '\0';
}

// ---- Static sections (enable time; may allocate). ----

ProtobufCBinaryData copyBytes(const std::string& text) {
  auto* data = static_cast<uint8_t*>(std::malloc(text.size() + 1));
  if (data == nullptr) return {0, nullptr};
  std::memcpy(data, text.c_str(), text.size() + 1);
  return {text.size(), data};
}

void freeBytes(ProtobufCBinaryData* bytes) {
  std::free(bytes->data);
  *bytes = {0, nullptr};
}

std::string readTrimmed(const char* path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string executablePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// Cores, counted as distinct (package, core) pairs of the CPUs the kernel knows.
uint32_t physicalCoreCount() {
  DIR* dir = opendir("/sys/devices/system/cpu");
  if (dir == nullptr) return 0;
  std::set<std::pair<std::string, std::string>> cores;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos) {
      continue;
    }
    const std::string topology = "/sys/devices/system/cpu/" + name + "/topology/";
    const std::string package = readTrimmed((topology + "physical_package_id").c_str());
    const std::string core = readTrimmed((topology + "core_id").c_str());
    if (!core.empty()) cores.emplace(package, core);
  }
  closedir(dir);
  return static_cast<uint32_t>(cores.size());
}

void clearWriter(dzcrash_log_writer_t* writer) {
  writer->symbolication_strategy = 0;
  writer->user_requested = false;
  std::memset(writer->uuid, 0, sizeof(writer->uuid));
  writer->system_info = {};
  writer->machine_info = {};
  writer->application_info = {};
  writer->process_info = {};
  writer->uncaught_exception.has_exception.store(false);
  writer->uncaught_exception.name = nullptr;
  writer->uncaught_exception.reason = nullptr;
  writer->uncaught_exception.callstack = nullptr;
  writer->uncaught_exception.callstack_count = 0;
  writer->custom_data.store(nullptr);
  writer->custom_data_retired.store(nullptr);
  writer->custom_data_readers.store(0);
  writer->abort_message_address = 0;
  writer->scratch = nullptr;
}

void freeChain(dzcrash_log_writer_custom_data* data) {
  while (data != nullptr) {
    dzcrash_log_writer_custom_data* next = data->retired_next;
    std::free(data);
    data = next;
  }
}

}  // namespace

dzcrash_error_t DZcrash_log_writer_init(dzcrash_log_writer_t* writer, const char* app_identifier,
                                        const char* app_version, const char* app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested) {
  clearWriter(writer);
  writer->symbolication_strategy = symbolication_strategy;
  writer->user_requested = user_requested;

  if (!DZcrash_nasync_thread_capture_install()) {
    DZCrashReporterLog(
        std::string("Could not install the thread capture; reports will hold the crashed thread only: ") +
        std::strerror(errno));
  }
  // Most of it is room for the records of images loaded later, of which a write uses what it finds: only
  // the pages it touches ever take memory.
  void* scratch = mmap(nullptr, sizeof(dzcrash_log_writer_scratch), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (scratch == MAP_FAILED) return DZCRASH_NO_MEMORY;
  writer->scratch = new (scratch) dzcrash_log_writer_scratch;

  // A symbol of the C library's own (glibc's private interface): absent from another C library, whose
  // reports then carry no abort message.
  writer->abort_message_address = reinterpret_cast<uint64_t>(dlsym(RTLD_DEFAULT, "__abort_msg"));

  if (getrandom(writer->uuid, sizeof(writer->uuid), 0) != static_cast<ssize_t>(sizeof(writer->uuid))) {
    std::memset(writer->uuid, 0, sizeof(writer->uuid));
  }

  writer->application_info.identifier = copyBytes(app_identifier != nullptr ? app_identifier : "");
  writer->application_info.version = copyBytes(app_version != nullptr ? app_version : "");
  if (app_marketing_version != nullptr)
    writer->application_info.marketing_version = copyBytes(app_marketing_version);

  const auto process = DZCrashProcessInfo::currentProcessInfo();
  if (!process) return DZCRASH_INVALID_ARGUMENT;
  auto& info = writer->process_info;
  info.process_id = static_cast<uint32_t>(process->processID());
  if (process->processName()) info.process_name = copyBytes(*process->processName());
  info.start_time = static_cast<uint64_t>(process->startTime().tv_sec);
  const std::string path = executablePath();
  if (!path.empty()) info.process_path = copyBytes(path);
  info.parent_process_id = static_cast<uint32_t>(process->parentProcessID());
  if (const auto parent = DZCrashProcessInfo::forProcess(process->parentProcessID());
      parent && parent->processName()) {
    info.parent_process_name = copyBytes(*parent->processName());
  }
  // No process here runs translated.
  info.native = true;

  auto& machine = writer->machine_info;
  const std::string model = readTrimmed("/sys/class/dmi/id/product_name");
  if (!model.empty()) machine.model = copyBytes(model);
  DZcrash_async_elf_machine_processor(DZcrash_async_elf_host_machine(), &machine.cpu_type,
                                      &machine.cpu_subtype);
  const long logical = sysconf(_SC_NPROCESSORS_CONF);
  machine.logical_processor_count = logical > 0 ? static_cast<uint32_t>(logical) : 0;
  const uint32_t cores = physicalCoreCount();
  machine.processor_count = cores > 0 ? cores : machine.logical_processor_count;

  utsname names;
  writer->system_info.os_build = copyBytes(uname(&names) == 0 ? names.release : "");
  std::string version;
  if (const auto host = DZCrashHostInfo::currentHostInfo()) {
    const DZCrashHostInfoVersion& v = host->darwinVersion();
    version = std::to_string(v.major) + "." + std::to_string(v.minor);
    if (v.revision >= 1) version += "." + std::to_string(v.revision);
  }
  writer->system_info.os_version = copyBytes(version);
  return DZCRASH_OK;
}

dzcrash_error_t DZcrash_log_writer_set_exception(dzcrash_log_writer_t* writer, const char* name,
                                                 const char* reason, const uint64_t* return_addresses,
                                                 size_t count) {
  auto& exception = writer->uncaught_exception;
  dzcrash_log_writer_scratch* scratch = writer->scratch;
  if (scratch == nullptr) return DZCRASH_NO_MEMORY;
  if (exception.has_exception.load()) return DZCRASH_INVALID_ARGUMENT;
  copyCut(scratch->exception_name, name, DZCRASH_WRITER_EXCEPTION_NAME_MAX);
  copyCut(scratch->exception_reason, reason, DZCRASH_WRITER_EXCEPTION_REASON_MAX);
  const size_t kept = return_addresses != nullptr ? std::min(count, DZCRASH_WRITER_MAX_FRAMES) : 0;
  for (size_t i = 0; i < kept; ++i) scratch->exception_callstack[i] = return_addresses[i];
  exception.name = scratch->exception_name;
  exception.reason = scratch->exception_reason;
  exception.callstack = kept > 0 ? scratch->exception_callstack : nullptr;
  exception.callstack_count = kept;
  exception.has_exception.store(true);
  return DZCRASH_OK;
}

bool DZcrash_log_writer_set_custom_data(dzcrash_log_writer_t* writer, const void* data, size_t length) {
  dzcrash_log_writer_custom_data* fresh = nullptr;
  if (data != nullptr) {
    fresh = static_cast<dzcrash_log_writer_custom_data*>(
        std::malloc(sizeof(dzcrash_log_writer_custom_data) + length));
    if (fresh == nullptr) return false;
    fresh->length = length;
    fresh->bytes = reinterpret_cast<uint8_t*>(fresh + 1);
    fresh->retired_next = nullptr;
    if (length > 0) std::memcpy(fresh->bytes, data, length);
  }
  // Sequentially consistent against the write's count-in-then-load: once no write is counted in after
  // the exchange, none can still hold the old value, and later ones load the new.
  dzcrash_log_writer_custom_data* old = writer->custom_data.exchange(fresh);
  if (writer->custom_data_readers.load() == 0) {
    std::free(old);
    freeChain(writer->custom_data_retired.exchange(nullptr));
  } else if (old != nullptr) {
    old->retired_next = writer->custom_data_retired.load();
    while (!writer->custom_data_retired.compare_exchange_weak(old->retired_next, old)) {
    }
  }
  return true;
}

dzcrash_error_t DZcrash_log_writer_write(dzcrash_log_writer_t* writer, pid_t crashed_thread,
                                         dzcrash_async_image_list* image_list, dzcrash_async_file_t* file,
                                         const dzcrash_log_signal_info_t* siginfo,
                                         const dzcrash_async_thread_state* current_state) {
  dzcrash_log_writer_scratch* scratch = writer->scratch;
  if (scratch == nullptr) return DZCRASH_NO_MEMORY;

  // Hold the other threads first: every later step reads memory they could change.
  // The crashed thread is listed whatever the number of threads: the cap leaves out others.
  dzcrash_thread_capture* capture =
      DZcrash_async_thread_capture_begin(DZCRASH_THREAD_CAPTURE_TIMEOUT_NS, crashed_thread);

  DZcrash_async_current_images(image_list, &scratch->unlisted, &scratch->images);
  DZcrash_async_symbol_cache_init(&scratch->symbols);

  Write w = {writer, scratch, &scratch->images, siginfo, current_state, DZ_mach_thread_self(), false};

  DZcrash_report_header_write(file);
  reportInfoEntry(file, writer);
  systemInfoEntry(file, writer, wallClockSeconds());
  machineInfoEntry(file, writer);
  applicationInfoEntry(file, writer);
  processInfoEntry(file, writer);

  // What must stay writable whatever else is left out: the signal section and one image.
  const size_t smallestImage = surveyImages(w);
  const size_t signalSize = signalEntry(nullptr, w);

  // Threads, in the capture's order. Without a capture only the calling thread is known.
  const size_t threadCount = capture != nullptr ? capture->count : 1;
  auto tidAt = [&](size_t i) { return capture != nullptr ? capture->slots[i].tid : w.self; };
  size_t crashedIndex = threadCount;
  for (size_t i = 0; i < threadCount; ++i) {
    if (tidAt(i) == crashed_thread && (crashed_thread != w.self || current_state != nullptr))
      crashedIndex = i;
  }
  size_t crashedSize = 0;
  if (crashedIndex < threadCount) {
    walkThread(w, &scratch->crashed, crashed_thread, true);
    // Its number is at most its index: sized with that, the room kept is never too small.
    crashedSize = threadEntry(nullptr, scratch->crashed, static_cast<uint32_t>(crashedIndex));
  }
  uint32_t written = 0;
  for (size_t i = 0; i < threadCount; ++i) {
    const pid_t tid = tidAt(i);
    if (tid == w.self && current_state == nullptr) continue;
    const dzcrash_writer_walk* walk = &scratch->crashed;
    size_t reserve = signalSize + smallestImage;
    if (i != crashedIndex) {
      walkThread(w, &scratch->other, tid, false);
      walk = &scratch->other;
      if (i < crashedIndex && crashedIndex < threadCount) reserve += crashedSize;
    }
    if (fits(file, threadEntry(nullptr, *walk, written), reserve)) threadEntry(file, *walk, written++);
  }

  DZcrash_async_image_list_set_reading(w.images, true);
  for (auto* image = DZcrash_async_image_list_next(w.images, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(w.images, image)) {
    if (fits(file, imageEntry(nullptr, image), signalSize)) imageEntry(file, image);
  }
  DZcrash_async_image_list_set_reading(w.images, false);

  if (writer->uncaught_exception.has_exception.load()) {
    walkExceptionStack(w, &scratch->other);
    if (fits(file, exceptionEntry(nullptr, w), signalSize)) exceptionEntry(file, w);
  }

  signalEntry(file, w);

  writer->custom_data_readers.fetch_add(1);
  if (const dzcrash_log_writer_custom_data* custom = writer->custom_data.load()) {
    if (fits(file, packBytes(nullptr, 10, custom->bytes, custom->length), 0)) {
      packBytes(file, 10, custom->bytes, custom->length);
    }
  }
  writer->custom_data_readers.fetch_sub(1);

  DZcrash_async_symbol_cache_free(&scratch->symbols);
  if (capture != nullptr) DZcrash_async_thread_capture_end(capture);
  return DZCRASH_OK;
}

dzcrash_error_t DZcrash_log_writer_close(dzcrash_log_writer_t*) {
  return DZCRASH_OK;
}

void DZcrash_log_writer_free(dzcrash_log_writer_t* writer) {
  freeBytes(&writer->system_info.os_version);
  freeBytes(&writer->system_info.os_build);
  freeBytes(&writer->machine_info.model);
  freeBytes(&writer->application_info.identifier);
  freeBytes(&writer->application_info.version);
  freeBytes(&writer->application_info.marketing_version);
  freeBytes(&writer->process_info.process_name);
  freeBytes(&writer->process_info.process_path);
  freeBytes(&writer->process_info.parent_process_name);
  auto& exception = writer->uncaught_exception;
  exception.name = exception.reason = nullptr;
  exception.callstack = nullptr;
  exception.callstack_count = 0;
  exception.has_exception.store(false);
  std::free(writer->custom_data.exchange(nullptr));
  freeChain(writer->custom_data_retired.exchange(nullptr));
  if (writer->scratch != nullptr) {
    writer->scratch->~dzcrash_log_writer_scratch();
    munmap(writer->scratch, sizeof(dzcrash_log_writer_scratch));
    writer->scratch = nullptr;
  }
}

bool DZcrash_writer_extract_crash_info_message(dzcrash_async_macho* image, char* buffer) {
  buffer[0] = '\0';
  if (!image->m64) return false;
  dzcrash_async_mobject section;
  bool mapped = false;
  for (const char* segment : kCrashInfoSegments) {
    if (DZcrash_async_macho_map_section(image, segment, "__crash_info", &section) == DZCRASH_OK) {
      mapped = true;
      break;
    }
  }
  if (!mapped) return false;
  bool found = false;
  const uint64_t base = DZcrash_async_mobject_base_address(&section);
  uint32_t version = 0;
  uint64_t message = 0;
  uint64_t message2 = 0;
  const dzcrash_async_byteorder_t* order = image->byteorder;
  if (DZcrash_async_mobject_length(&section) >= kCrashInfoMinSize &&
      DZcrash_async_mobject_read_uint32(&section, order, base, 0, &version) == DZCRASH_OK &&
      (version == 4 || version == 5) &&
      DZcrash_async_mobject_read_uint64(&section, order, base, kCrashInfoMessageOffset, &message) ==
          DZCRASH_OK &&
      DZcrash_async_mobject_read_uint64(&section, order, base, kCrashInfoMessage2Offset, &message2) ==
          DZCRASH_OK) {
    found = copyTaskString(image->task, message, buffer) || copyTaskString(image->task, message2, buffer);
  }
  DZcrash_async_mobject_free(&section);
  return found;
}

}  // namespace dzcrash
