#include "DZCrashReporter/capture/DZCrashSignalCapture.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <typeinfo>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncFile.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncUnlistedImages.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

// libiberty's demangler that hands out the text in pieces and allocates nothing (libstdc++'s own
// __cxa_demangle always does). Declared here: libiberty's header clashes with <cstring>.
extern "C" int cplus_demangle_v3_callback(const char* mangled, int options,
                                          void (*callback)(const char*, size_t, void*), void* opaque);

namespace dzcrash {

dzcrash_signal_handler_context signal_handler_context = {};

namespace {

// Published whole; a replaced record is never freed, since a crash may be reading it.
std::atomic<const dzcrash_crash_callbacks*> crashCallbacks{nullptr};

// The thread that claimed the crash; 0 until one does.
std::atomic<pid_t> gCrashingThread{0};

std::atomic<int> exception_is_handled{0};

// libiberty's DMGL_PARAMS and DMGL_TYPES: function parameters, and names of types alone.
constexpr int kDemangleParams = 1 << 0;
constexpr int kDemangleTypes = 1 << 4;

// Restores the default action of every monitored signal. async-signal-safe.
void restoreDefaultActions() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signo : monitored_signals) sigaction(signo, &action, nullptr);
}

// Where the C++ runtime starts a throw: the frames from the hook up to the outermost of these are the
// hook's and the runtime's, and the function that called it threw. A sanitizer's interceptor of the same
// function counts as it.
constexpr const char* kThrowEntries[] = {
    "__cxa_throw",
    "__cxa_rethrow",
    "_ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE",
};
constexpr const char* kInterceptorPrefixes[] = {"", "__interceptor_", "___interceptor_"};
// The throw lies within this many frames of the hook.
constexpr size_t kThrowSearchDepth = 64;

// What the exception hook works in, mapped when it is installed: the hook allocates nothing, so an
// uncaught std::bad_alloc arrives with its exception.
struct ExceptionHookRoom {
  dzframe_cursor cursor;
  dzcrash_async_unlisted_images loaded;
  dzcrash_async_image_list images;
  uint64_t stack[DZCRASH_WRITER_MAX_FRAMES];
  size_t count;
  char name[DZCRASH_WRITER_EXCEPTION_NAME_MAX + 1];
  size_t nameLength;
  char symbol[DZCRASH_ELF_SYMBOL_NAME_MAX];
};

std::atomic<ExceptionHookRoom*> gExceptionHookRoom{nullptr};

// Walks the calling thread's stack into the room, innermost first.
dzcrash_error_t collectStack(dzcrash_async_thread_state* state, void* context) {
  auto* room = static_cast<ExceptionHookRoom*>(context);
  DZcrash_async_current_images(&shared_image_list, &room->loaded, &room->images);
  room->count = 0;
  if (DZframe_cursor_init(&room->cursor, DZcrash_async_task_self(), state, &room->images) != DZFRAME_OK)
    return DZCRASH_OK;
  while (room->count < DZCRASH_WRITER_MAX_FRAMES && DZframe_cursor_next(&room->cursor) == DZFRAME_OK) {
    uint64_t ip = 0;
    if (DZframe_cursor_get_reg(&room->cursor, DZCRASH_REG_IP, &ip) != DZFRAME_OK) break;
    room->stack[room->count++] = ip;
  }
  DZframe_cursor_free(&room->cursor);
  return DZCRASH_OK;
}

void keepSymbol(uint64_t, const char* name, void* context) {
  auto* room = static_cast<ExceptionHookRoom*>(context);
  size_t length = 0;
  while (name[length] != '\0' && length + 1 < sizeof(room->symbol)) {
    room->symbol[length] = name[length];
    ++length;
  }
  room->symbol[length] = '\0';
}

// Whether frame `index` of the room's stack lies in one of the runtime's throw functions.
bool isThrowEntry(ExceptionHookRoom* room, size_t index) {
  // A caller's frame holds a return address: its call lies one byte before.
  const uint64_t address = index == 0 ? room->stack[0] : room->stack[index] - 1;
  room->symbol[0] = '\0';
  DZcrash_async_image_list_set_reading(&room->images, true);
  const dzcrash_async_image* image = DZcrash_async_image_containing_address(&room->images, address);
  if (image != nullptr && image->format == DZCRASH_IMAGE_FORMAT_ELF) {
    DZcrash_async_elf_find_symbol_by_pc(static_cast<const dzcrash_async_elf*>(image->parsed), address,
                                        keepSymbol, room);
  }
  DZcrash_async_image_list_set_reading(&room->images, false);
  for (const char* prefix : kInterceptorPrefixes) {
    size_t skip = 0;
    while (prefix[skip] != '\0' && room->symbol[skip] == prefix[skip]) ++skip;
    if (prefix[skip] != '\0') continue;
    for (const char* entry : kThrowEntries) {
      if (DZcrash_async_strcmp(room->symbol + skip, entry) == 0) return true;
    }
  }
  return false;
}

// The first frame of the thrower: past the runtime's throw when it is found near the top, else past the
// hook's own frame (std::terminate called without a throw).
size_t throwerIndex(ExceptionHookRoom* room) {
  const size_t depth = room->count < kThrowSearchDepth ? room->count : kThrowSearchDepth;
  for (size_t i = 0; i < depth; ++i) {
    if (!isThrowEntry(room, i)) continue;
    while (i + 1 < room->count && isThrowEntry(room, i + 1)) ++i;
    return i + 1;
  }
  return room->count > 0 ? 1 : 0;
}

void appendName(const char* text, size_t length, void* context) {
  auto* room = static_cast<ExceptionHookRoom*>(context);
  for (size_t i = 0; i < length && room->nameLength < DZCRASH_WRITER_EXCEPTION_NAME_MAX; ++i)
    room->name[room->nameLength++] = text[i];
  room->name[room->nameLength] = '\0';
}

// The current exception's type, demangled into the room without allocation (the mangled name when it
// cannot be).
void nameCurrentException(ExceptionHookRoom* room, const std::type_info& type) {
  room->nameLength = 0;
  room->name[0] = '\0';
  if (cplus_demangle_v3_callback(type.name(), kDemangleParams | kDemangleTypes, appendName, room) != 0)
    return;
  room->nameLength = 0;
  appendName(type.name(), std::strlen(type.name()), room);
}

// Records the current exception, whose stack stands as it was thrown (nothing was unwound), starting at
// `state`: the hook's own frame. Allocates nothing.
void recordCurrentException(ExceptionHookRoom* room, dzcrash_async_thread_state* state) {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return;
  nameCurrentException(room, *type);
  // Rethrown to read what() (std::rethrow_exception would allocate): the exception is the runtime's
  // caught one while terminate runs.
  const char* reason = "";
  try {
    throw;
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
  }
  collectStack(state, room);
  const size_t first = throwerIndex(room);
  DZcrash_log_writer_set_exception(&signal_handler_context.writer, room->name, reason, room->stack + first,
                                   room->count - first);
}

dzcrash_error_t recordFromHere(dzcrash_async_thread_state* state, void* context) {
  recordCurrentException(static_cast<ExceptionHookRoom*>(context), state);
  return DZCRASH_OK;
}

}  // namespace

bool DZcrash_nasync_exception_hook_prepare() {
  static std::mutex lock;
  std::lock_guard guard(lock);
  if (gExceptionHookRoom.load() != nullptr) return true;
  // Only the pages the hook touches take memory: most of it is room for images loaded later.
  void* area = mmap(nullptr, sizeof(ExceptionHookRoom), PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (area == MAP_FAILED) return false;
  gExceptionHookRoom.store(new (area) ExceptionHookRoom);
  return true;
}

void DZcrash_nasync_set_crash_callbacks(const dzcrash_crash_callbacks& callbacks) {
  crashCallbacks.store(new dzcrash_crash_callbacks(callbacks));
}

dzcrash_error_t dzcrash_write_report(dzcrash_signal_handler_context* context, pid_t crashed_thread,
                                     const dzcrash_async_thread_state* current_state,
                                     const dzcrash_log_signal_info_t* siginfo) {
  const int fd = open(context->path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return DZCRASH_INTERNAL;
  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, fd, context->max_report_bytes);
  const dzcrash_error_t result = DZcrash_log_writer_write(&context->writer, crashed_thread,
                                                          &shared_image_list, &file, siginfo, current_state);
  DZcrash_log_writer_close(&context->writer);
  if (!DZcrash_async_file_close(&file)) return DZCRASH_INTERNAL;
  return result;
}

bool signal_handler_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                             dzcrash_signal_handler_callback*) {
  const pid_t self = DZ_mach_thread_self();
  pid_t owner = 0;
  if (!gCrashingThread.compare_exchange_strong(owner, self)) {
    if (owner == self) {
      restoreDefaultActions();
      return false;
    }
    // Another thread is writing the report. Waiting here keeps this thread's registers for the report's
    // thread capture (its signal stays open); the process ends with the other thread's signal.
    for (;;) pause();
  }

  dzcrash_async_thread_state state;
  const bool haveState =
      uap != nullptr && DZcrash_async_thread_state_mcontext_init(&state, &uap->uc_mcontext) == DZCRASH_OK;
  // Outside a fault the field may hold the sender's pid (abort() is a tgkill).
  const uint64_t address =
      DZcrash_signal_is_fault(signo, info) ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
  const dzcrash_log_bsd_signal_info_t bsd = {info != nullptr ? info->si_signo : signo,
                                             info != nullptr ? info->si_code : 0, address};
  const dzcrash_log_signal_info_t siginfo = {&bsd, nullptr};
  auto* crashContext = static_cast<dzcrash_signal_handler_context*>(context);
  if (dzcrash_write_report(crashContext, self, haveState ? &state : nullptr, &siginfo) == DZCRASH_OK) {
    const dzcrash_crash_callbacks* callbacks = crashCallbacks.load();
    if (callbacks != nullptr && callbacks->handleSignal != nullptr) {
      callbacks->handleSignal(info, uap, callbacks->context);
    }
  }
  restoreDefaultActions();
  return false;
}

void uncaught_exception_handler() {
  int expected = 0;
  if (!exception_is_handled.compare_exchange_strong(expected, 1)) {
    // Another thread's exception is being recorded and that thread is about to abort. Aborting here
    // could claim the crash first and leave its exception out of the report.
    for (;;) pause();
  }
  // Walked from here, the hook's own frame first, so that the hook and the runtime's frames above the
  // throw can be left out.
  if (ExceptionHookRoom* room = gExceptionHookRoom.load())
    DZcrash_async_thread_state_current(recordFromHere, room);
  std::abort();
}

}  // namespace dzcrash
