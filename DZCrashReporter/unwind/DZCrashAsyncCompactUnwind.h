#pragma once

// Compact unwind information: the "__TEXT,__unwind_info" section of a Mach-O image, which describes
// most functions with one 32-bit encoding. The reader finds the encoding of the function that holds an
// address, the entry decodes it, and apply turns one frame's registers into its caller's.
//
// Every routine here is async-signal-safe: the section is read in place through a memory object, the
// stack and code only through checked task reads, and nothing is allocated.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncMObject.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

namespace dzcrash {

// The section's first 28 bytes, in host order.
struct dzcrash_async_cfe_header {
  uint32_t version;
  uint32_t common_encodings_offset;
  uint32_t common_encodings_count;
  uint32_t personality_offset;
  uint32_t personality_count;
  uint32_t index_offset;
  uint32_t index_count;
};

struct dzcrash_async_cfe_reader {
  // The section; not owned.
  const dzcrash_async_mobject* mobj;
  uint32_t cpu_type;
  dzcrash_async_cfe_header header;
  const dzcrash_async_byteorder_t* byteorder;
};

enum dzcrash_async_cfe_type : uint32_t {
  // The caller's frame pointer and return address sit at the frame pointer.
  DZCRASH_ASYNC_CFE_TYPE_FRAME = 1,
  // No frame pointer; the stack size is part of the encoding.
  DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD = 2,
  // No frame pointer; the stack size is an immediate in the function's own code.
  DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT = 3,
  // Only DWARF call-frame information describes the function.
  DZCRASH_ASYNC_CFE_TYPE_DWARF = 4,
  // Nothing describes the function (the outermost frame).
  DZCRASH_ASYNC_CFE_TYPE_NONE = 5,
};

// "No register": a saved-register slot of no interest, or a return address on the stack.
constexpr uint32_t DZCRASH_ASYNC_CFE_NO_REG = 0x7fffffff;
constexpr size_t DZCRASH_ASYNC_CFE_SAVED_REGISTER_MAX = 10;
// Register numbers of the return-address register and of the saved pairs in decoded arm64 entries;
// no thread state of this build uses them.
constexpr uint32_t DZCRASH_ASYNC_CFE_ARM64_LR = 32;

struct dzcrash_async_cfe_entry {
  dzcrash_async_cfe_type type;
  uint32_t cpu_type;
  // Frame-based: offset (<= 0) of the saved-register area from the frame pointer. Frameless
  // immediate: the stack size. Frameless indirect: offset from the function start of the 32-bit
  // stack-size immediate. DWARF: offset of the FDE in the DWARF section.
  int64_t stack_offset;
  // Added to the stack size read from the code (frameless indirect).
  uint32_t stack_adjust;
  // Register that holds the return address, or DZCRASH_ASYNC_CFE_NO_REG (it is on the stack).
  uint32_t return_address_register;
  uint32_t register_count;
  // Walker register numbers in stack order, lowest address first; DZCRASH_ASYNC_CFE_NO_REG marks a slot
  // whose value is of no interest (it still takes its place on the stack).
  uint32_t register_list[DZCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];
};

// DZCRASH_NOT_SUPPORTED for a cpu type other than x86, x86-64 and arm64 or a version other than 1;
// DZCRASH_INVALID_ARGUMENT when the header is not wholly inside the object. The object must outlive
// the reader.
dzcrash_error_t DZcrash_async_cfe_reader_init(dzcrash_async_cfe_reader* reader,
                                              const dzcrash_async_mobject* mobj, uint32_t cpu_type);

// Finds the entry covering pc (an offset from the image's header address): the function's start offset
// and its encoding. DZCRASH_NOT_FOUND below the first function or in an empty table,
// DZCRASH_INVALID_ARGUMENT for tables that do not lie inside the section.
dzcrash_error_t DZcrash_async_cfe_reader_find_pc(const dzcrash_async_cfe_reader* reader, uint64_t pc,
                                                 uint64_t* function_offset, uint32_t* encoding);

void DZcrash_async_cfe_reader_free(dzcrash_async_cfe_reader* reader);

// Decodes an encoding of the cpu type. DZCRASH_NOT_SUPPORTED for modes this format does not define (or
// a cpu type without compact unwinding), DZCRASH_INVALID_ARGUMENT for register codes that are not
// registers.
dzcrash_error_t DZcrash_async_cfe_entry_init(dzcrash_async_cfe_entry* entry, uint32_t cpu_type,
                                             uint32_t encoding);

dzcrash_async_cfe_type DZcrash_async_cfe_entry_type(const dzcrash_async_cfe_entry* entry);
int64_t DZcrash_async_cfe_entry_stack_offset(const dzcrash_async_cfe_entry* entry);
uint32_t DZcrash_async_cfe_entry_stack_adjustment(const dzcrash_async_cfe_entry* entry);
uint32_t DZcrash_async_cfe_entry_return_address_register(const dzcrash_async_cfe_entry* entry);
uint32_t DZcrash_async_cfe_entry_register_count(const dzcrash_async_cfe_entry* entry);
// Copies register_count entries.
void DZcrash_async_cfe_entry_register_list(const dzcrash_async_cfe_entry* entry, uint32_t* register_list);

// The caller's registers: next gets the callee-saved registers of current, the new stack and
// instruction pointers and the registers restored from the stack; every stack and code read goes
// through the task. function_address is the absolute start of the function (the indirect form reads
// its stack size there). DZCRASH_NOT_SUPPORTED for DWARF and none entries and for an entry of another
// processor than the state's (arm64 entries decode but there is no arm64 state to apply them to);
// DZCRASH_NOT_FOUND when a register the entry needs is not valid; a read's error as it is. On failure
// next holds nothing useful.
dzcrash_error_t DZcrash_async_cfe_entry_apply(dzcrash_task_t task, uint64_t function_address,
                                              const dzcrash_async_thread_state* current,
                                              const dzcrash_async_cfe_entry* entry,
                                              dzcrash_async_thread_state* next);

void DZcrash_async_cfe_entry_free(dzcrash_async_cfe_entry* entry);

// The register permutation of frameless x86 encodings: `count` distinct codes 1-6 packed into 10
// bits. decode writes count codes (0 where a digit names no unused code); DZCRASH_INVALID_ARGUMENT for
// a count above 6.
dzcrash_error_t DZcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count, uint32_t* registers);
// The inverse; 0 for a count of 0 or above 6. Reads at most six codes.
uint32_t DZcrash_async_cfe_register_encode(const uint32_t* registers, uint32_t count);

}  // namespace dzcrash
