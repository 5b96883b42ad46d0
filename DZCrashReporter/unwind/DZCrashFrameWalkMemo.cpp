#include "DZCrashReporter/unwind/DZCrashFrameWalkMemo.h"

namespace dzcrash {

// async-signal-safe.
void DZframe_walk_memo_init(dzframe_walk_memo* memo) {
  // Only the bookkeeping: entries are written before they are read.
  memo->lookup_known = false;
  memo->lookup_list = nullptr;
  memo->lookup_address = 0;
  memo->lookup_image = nullptr;
  memo->header_count = 0;
  memo->header_next = 0;
  memo->cies.reset();
  memo->row_count = 0;
  memo->row_next = 0;
}

// async-signal-safe.
async::dwarf_eh_frame_hdr* DZframe_walk_memo_header(dzframe_walk_memo* memo, dzcrash_task_t task,
                                                    uint64_t address, uint64_t size,
                                                    const dzcrash_async_byteorder_t* byteorder, bool m64) {
  for (uint8_t i = 0; i < memo->header_count; ++i) {
    dzframe_walk_memo::header& h = memo->headers[i];
    if (h.address == address && h.size == size) return h.usable ? &h.hdr : nullptr;
  }
  uint8_t slot;
  if (memo->header_count < dzframe_walk_memo::kHeaders) {
    slot = memo->header_count++;
  } else {
    slot = memo->header_next;
    memo->header_next = static_cast<uint8_t>((memo->header_next + 1) % dzframe_walk_memo::kHeaders);
  }
  dzframe_walk_memo::header& h = memo->headers[slot];
  h.address = address;
  h.size = size;
  h.usable = h.hdr.init(task, address, size, byteorder, m64) == DZCRASH_OK && h.hdr.has_table();
  return h.usable ? &h.hdr : nullptr;
}

// async-signal-safe.
const dzframe_dwarf_row* DZframe_walk_memo_find_row(const dzframe_walk_memo* memo,
                                                    const dzframe_dwarf_row& key) {
  for (uint8_t i = 0; i < memo->row_count; ++i) {
    const dzframe_dwarf_row& row = memo->rows[i];
    if (row.pc == key.pc && row.section_address == key.section_address &&
        row.section_length == key.section_length && row.header_address == key.header_address &&
        row.m64 == key.m64) {
      return &row;
    }
  }
  return nullptr;
}

// async-signal-safe.
void DZframe_walk_memo_keep_row(dzframe_walk_memo* memo, const dzframe_dwarf_row& row) {
  uint8_t slot;
  if (memo->row_count < dzframe_walk_memo::kRows) {
    slot = memo->row_count++;
  } else {
    slot = memo->row_next;
    memo->row_next = static_cast<uint8_t>((memo->row_next + 1) % dzframe_walk_memo::kRows);
  }
  memo->rows[slot] = row;
}

}  // namespace dzcrash
