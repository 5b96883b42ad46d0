#pragma once

// What a frame cursor remembers from one step of its walk to the next, so that frames of the same
// image and function do not pay again for what an earlier frame found: the image that holds the last
// address looked up, each image's decoded .eh_frame_hdr, the CIEs parsed, and the call-frame rules
// (the row) that the CIE's and FDE's programs give at an address. Everything here depends only on the
// image list and on unwind tables, which hold still during a walk; registers and stack are never
// remembered, so each frame is still unwound from its own values.
//
// The memo is plain data inside the cursor (no heap, no locks) with fixed-size tables whose oldest
// entry gives way; readers reach it through the task the cursor hands them (dzcrash_task::walk_memo)
// and work without it when a task has none. async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCIE.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFrameReader.h"

namespace dzcrash {

// The rules at one address of a frame section's code: the current level of the rule table after both
// programs ran, with the two CIE fields that applying it reads.
struct dzframe_dwarf_row {
  static constexpr uint8_t kMaxRules = 24;
  struct rule {
    uint64_t value;
    uint32_t regnum;
    uint8_t type;
  };
  // The key: where the frame section and its header table lie, and the address looked up.
  uint64_t section_address;
  uint64_t section_length;
  uint64_t header_address;
  uint64_t pc;
  bool m64;
  bool signal_frame;
  uint64_t return_address_register;
  // The CFA rule, as the table holds it.
  uint8_t cfa_type;
  uint32_t cfa_reg;
  uint64_t cfa_offset;
  uint64_t cfa_expression_address;
  uint64_t cfa_expression_length;
  // In the table's visiting order.
  uint8_t rule_count;
  rule rules[kMaxRules];
};

struct dzframe_walk_memo {
  static constexpr uint8_t kHeaders = 4;
  static constexpr uint8_t kRows = 16;

  // The last image lookup: the list, the address and the image found (null: none holds it).
  bool lookup_known;
  const dzcrash_async_image_list* lookup_list;
  uint64_t lookup_address;
  dzcrash_async_image* lookup_image;

  // Decoded .eh_frame_hdr sections, by their range.
  struct header {
    uint64_t address;
    uint64_t size;
    // Whether it decoded and has a table to search.
    bool usable;
    async::dwarf_eh_frame_hdr hdr;
  };
  uint8_t header_count;
  uint8_t header_next;
  header headers[kHeaders];

  async::dwarf_cie_cache cies;

  uint8_t row_count;
  uint8_t row_next;
  dzframe_dwarf_row rows[kRows];
};

// Forgets everything: the start of a walk. async-signal-safe.
void DZframe_walk_memo_init(dzframe_walk_memo* memo);

// The memo of the walk that reads through `task`, or null. async-signal-safe.
inline dzframe_walk_memo* DZframe_walk_memo_of(dzcrash_task_t task) {
  return task != nullptr && task->kind == DZCRASH_TASK_CACHED ? task->walk_memo : nullptr;
}

// The decoded header at [address, address + size) of `task` (the task the memo belongs to), decoding
// it on first use; null when it does not decode or has no table. async-signal-safe.
async::dwarf_eh_frame_hdr* DZframe_walk_memo_header(dzframe_walk_memo* memo, dzcrash_task_t task,
                                                    uint64_t address, uint64_t size,
                                                    const dzcrash_async_byteorder_t* byteorder, bool m64);

// The row kept for this key (the key fields of `key`), or null. async-signal-safe.
const dzframe_dwarf_row* DZframe_walk_memo_find_row(const dzframe_walk_memo* memo,
                                                    const dzframe_dwarf_row& key);
// Keeps a copy of `row` (the oldest gives way). async-signal-safe.
void DZframe_walk_memo_keep_row(dzframe_walk_memo* memo, const dzframe_dwarf_row& row);

}  // namespace dzcrash
