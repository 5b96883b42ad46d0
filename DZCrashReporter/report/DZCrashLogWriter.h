#pragma once

// The report writer: turns the state of the process into one report file (DZCrashReportFormat.h).
//
// It is split in two. DZcrash_log_writer_init gathers, when the reporter is enabled, everything that
// needs the heap or the file system (the static sections: system, machine, application, process) and
// maps the scratch memory the crash-time write works in. DZcrash_log_writer_write then only reads
// memory, walks threads and images and encodes: no heap, no locks, async-signal-safe. It holds the
// other threads still for its length (DZCrashThreadCapture.h). The same writer produces on-demand
// (live) reports.
//
// A write streams the report through the async file, whose limit caps its size. A thread, image,
// exception or custom data that would not fit what is left is left out whole, and room is kept for
// the signal section (and, while threads are written, for the crashed thread and one image), so a
// capped report still decodes.
//
// Ownership: the caller owns the writer record; init fills it and free releases what init and the
// setters made. Threads: init and free on one thread, while no write runs; the setters from any
// thread; the write on the crashing thread.

#include <sys/types.h>

#include <protobuf-c/protobuf-c.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncFile.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

namespace dzcrash {

// At most this many frames per thread and per exception call stack.
constexpr size_t DZCRASH_WRITER_MAX_FRAMES = 512;
// A crash-information message is cut to this many bytes.
constexpr size_t DZCRASH_WRITER_CRASH_INFO_MAX = 1024;
// An uncaught exception's name and reason are cut to this many bytes (at a whole UTF-8 sequence).
constexpr size_t DZCRASH_WRITER_EXCEPTION_NAME_MAX = 1024;
constexpr size_t DZCRASH_WRITER_EXCEPTION_REASON_MAX = 16 * 1024;

// The BSD part of the signal information: the signal, its code and the faulting address.
struct dzcrash_log_bsd_signal_info_t {
  int32_t signo;
  int32_t code;
  uint64_t address;
};

// The Mach part, for reports of an exception caught as one: type and codes.
struct dzcrash_log_mach_signal_info_t {
  uint64_t type;
  const uint64_t* code;
  size_t code_count;
};

// What the capture layer hands to the write; the Mach part may be null.
struct dzcrash_log_signal_info_t {
  const dzcrash_log_bsd_signal_info_t* bsd_info;
  const dzcrash_log_mach_signal_info_t* mach_info;
};

// One immutable custom-data value as the write reads it.
struct dzcrash_log_writer_custom_data {
  size_t length;
  uint8_t* bytes;
  // Link among replaced values that a write may still read.
  dzcrash_log_writer_custom_data* retired_next;
};

struct dzcrash_log_writer_scratch;

struct dzcrash_log_writer_t {
  // DZcrash_async_find_symbol's strategy bits; 0 writes no symbols. ELF images use the dynamic symbol
  // table when the symbol-table bit is set.
  uint32_t symbolication_strategy;
  bool user_requested;
  uint8_t uuid[16];

  // Byte strings are heap copies (len 0 and data null when empty or unknown).
  struct {
    ProtobufCBinaryData os_version;
    ProtobufCBinaryData os_build;
  } system_info;

  struct {
    ProtobufCBinaryData model;
    uint64_t cpu_type;
    uint64_t cpu_subtype;
    uint32_t processor_count;
    uint32_t logical_processor_count;
  } machine_info;

  struct {
    ProtobufCBinaryData identifier;
    ProtobufCBinaryData version;
    ProtobufCBinaryData marketing_version;
  } application_info;

  struct {
    ProtobufCBinaryData process_name;
    uint32_t process_id;
    ProtobufCBinaryData process_path;
    uint64_t start_time;
    ProtobufCBinaryData parent_process_name;
    uint32_t parent_process_id;
    bool native;
  } process_info;

  // Points into the scratch memory once set.
  struct {
    std::atomic<bool> has_exception;
    char* name;
    char* reason;
    uint64_t* callstack;
    size_t callstack_count;
  } uncaught_exception;

  // The current value (null: none), published with one atomic store; values it replaced while a write
  // was reading stay in `retired` until a later set finds no write running, or until free.
  std::atomic<dzcrash_log_writer_custom_data*> custom_data;
  std::atomic<dzcrash_log_writer_custom_data*> custom_data_retired;
  std::atomic<uint32_t> custom_data_readers;

  // Where the C library keeps the pointer to its abort message (glibc's __abort_msg, which assert and
  // the library's fatal errors set before they abort); 0 when it has none. Found by init.
  uint64_t abort_message_address;

  // Mapped by init (never the heap): the write's walk buffers, frame cursor and crash-time images.
  dzcrash_log_writer_scratch* scratch;
};

// Fills the static sections and maps the scratch memory; installs the thread capture once per
// process. `marketing_version` may be null. DZCRASH_INVALID_ARGUMENT when this process's entry in the
// process table cannot be read (the machine and system sections then stay empty; the writer can still
// write); DZCRASH_NO_MEMORY when the scratch cannot be mapped (the writer cannot write; free it).
// The write reads the static sections without synchronisation: init must finish before whatever may
// write with the writer (a crash handler, another thread) is installed or told of it.
// Not async-signal-safe.
dzcrash_error_t DZcrash_log_writer_init(dzcrash_log_writer_t* writer, const char* app_identifier,
                                        const char* app_version, const char* app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested);

// Records an uncaught exception for the write: its name, its reason (null writes "") and its call
// stack's return addresses (`count` of them, of which the first DZCRASH_WRITER_MAX_FRAMES are kept),
// copied into the memory init set aside, so that it allocates nothing (an uncaught std::bad_alloc is
// recorded too); name and reason are cut to their maxima. At most once per writer: a second call is
// refused with DZCRASH_INVALID_ARGUMENT; DZCRASH_NO_MEMORY without scratch memory. Any thread.
dzcrash_error_t DZcrash_log_writer_set_exception(dzcrash_log_writer_t* writer, const char* name,
                                                 const char* reason, const uint64_t* return_addresses,
                                                 size_t count);

// Replaces the custom data with a copy of `length` bytes at `data` (null clears it). The copy is
// published with one atomic store and never freed while a write may read it, so a write always sees
// one whole value. False when the copy cannot be allocated (the old value stays). Not
// async-signal-safe (allocates); any thread.
bool DZcrash_log_writer_set_custom_data(dzcrash_log_writer_t* writer, const void* data, size_t length);

// The crash-information message is the first Mach-O "__crash_info" message of the images (the
// faulting image first), else the C library's abort message, when it has set one.
//
// Writes the report: header, report info, system, machine, application and process sections, every
// thread of the process (the other threads held still meanwhile), the images loaded at this moment
// (those of `image_list` that are still loaded, and any loaded since it was filled, as the dynamic
// linker's map lists them), the exception, the signal and the custom data, in that order.
// `crashed_thread` is marked crashed and carries the registers of its first frame. `current_state`
// is the calling thread's state; without it the calling thread is left out. `image_list` may be null.
// Threads that do not stop within about 100 ms are written with number and crashed flag only; while
// another capture runs (a second write at the same moment) only the calling thread is written. One
// write at a time per writer. Always DZCRASH_OK once it has run through (DZCRASH_NO_MEMORY without
// scratch memory); the file's own failures are not checked. async-signal-safe.
dzcrash_error_t DZcrash_log_writer_write(dzcrash_log_writer_t* writer, pid_t crashed_thread,
                                         dzcrash_async_image_list* image_list, dzcrash_async_file_t* file,
                                         const dzcrash_log_signal_info_t* siginfo,
                                         const dzcrash_async_thread_state* current_state);

// Nothing to do; DZCRASH_OK. async-signal-safe.
dzcrash_error_t DZcrash_log_writer_close(dzcrash_log_writer_t* writer);

// Frees the byte strings, the exception, every custom-data value and the scratch memory. No write may
// run. Not async-signal-safe.
void DZcrash_log_writer_free(dzcrash_log_writer_t* writer);

// The message of a Mach-O image's "__crash_info" section (from "__DATA", "__DATA_CONST" or
// "__DATA_DIRTY", the first that has it): a section of version 4 or 5 and at least 40 bytes names the
// message at offset 8, or, when that pointer is 0 or cannot be read, the second message at offset 32.
// The string is copied from the image's task into `buffer` (DZCRASH_WRITER_CRASH_INFO_MAX + 1 bytes),
// cut at DZCRASH_WRITER_CRASH_INFO_MAX bytes and NUL-terminated. False when none was found.
// async-signal-safe.
bool DZcrash_writer_extract_crash_info_message(dzcrash_async_macho* image, char* buffer);

}  // namespace dzcrash
