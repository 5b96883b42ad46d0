#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFrameReader.h"

#include "DZCrashReporter/unwind/DZCrashAsyncDwarfEncoding.h"

namespace dzcrash::async {

// async-signal-safe.
dzcrash_error_t dwarf_frame_reader::init(dwarf_section* section, const dzcrash_async_byteorder_t* byteorder,
                                         bool m64, bool debug_frame) {
  section_ = section;
  byteorder_ = byteorder;
  m64_ = m64;
  debug_frame_ = debug_frame;
  cie_cache_ = nullptr;
  return DZCRASH_OK;
}

// async-signal-safe.
dzcrash_error_t dwarf_frame_reader::read_entry(uint64_t offset, dwarf_frame_entry* entry) {
  DZcrash_async_memset(entry, 0, sizeof(*entry));
  entry->offset = offset;
  const uint64_t base = section_->base_address();
  uint64_t length = 0;
  uint64_t header = 0;
  if (offset > section_->length() ||
      dzcrash_async_dwarf_read_entry_length(section_, byteorder_, base + offset, &length, &header) !=
          DZCRASH_OK) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  const uint8_t idSize = header == DZCRASH_DWARF_HEADER_64 ? 8 : 4;
  entry->length = length;
  if (length == 0) {
    entry->is_terminator = true;
    entry->next_offset = offset + header;
    return DZCRASH_OK;
  }
  if (__builtin_add_overflow(offset, header, &entry->next_offset) ||
      __builtin_add_overflow(entry->next_offset, length, &entry->next_offset)) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  if (dzcrash_async_dwarf_read_uintmax64(section_, byteorder_, base, static_cast<int64_t>(offset + header),
                                         idSize, &entry->id) != DZCRASH_OK) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  const uint64_t cieId = debug_frame_ ? (idSize == 8 ? UINT64_MAX : UINT32_MAX) : 0;
  entry->is_cie = entry->id == cieId;
  return DZCRASH_OK;
}

// async-signal-safe.
dzcrash_error_t dwarf_frame_reader::parse_fde(uint64_t offset, dzcrash_async_dwarf_fde_info* fde,
                                              dzcrash_async_dwarf_cie_info* cie) {
  const uint64_t address = section_->base_address() + offset;
  return m64_ ? dzcrash_async_dwarf_fde_info_init_with_cie<uint64_t>(fde, cie, section_, byteorder_, address,
                                                                     debug_frame_, cie_cache_)
              : dzcrash_async_dwarf_fde_info_init_with_cie<uint32_t>(fde, cie, section_, byteorder_, address,
                                                                     debug_frame_, cie_cache_);
}

// async-signal-safe.
dzcrash_error_t dwarf_frame_reader::find_fde(int64_t offset, uint64_t pc, dzcrash_async_dwarf_fde_info* fde) {
  uint64_t start = 0;
  if (!DZcrash_async_address_apply_offset(section_->base_address(), offset, &start) ||
      start < section_->base_address() || start >= section_->end_address()) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  if (!m64_) pc &= UINT32_MAX;
  uint64_t at = start - section_->base_address();
  while (at < section_->length()) {
    dwarf_frame_entry entry;
    const dzcrash_error_t err = read_entry(at, &entry);
    if (err != DZCRASH_OK) return err;
    if (entry.is_terminator) return DZCRASH_NOT_FOUND;
    if (!entry.is_cie) {
      dzcrash_async_dwarf_cie_info cie;
      if (parse_fde(at, fde, &cie) == DZCRASH_OK && fde->pc_start <= pc && pc < fde->pc_end) {
        return DZCRASH_OK;
      }
    }
    at = entry.next_offset;
  }
  return DZCRASH_NOT_FOUND;
}

// async-signal-safe.
template <typename machine_ptr>
dzcrash_error_t dwarf_eh_frame_hdr::decode(uint64_t offset, uint8_t encoding, uint64_t* value,
                                           uint64_t* size) {
  gnu_ehptr_reader<machine_ptr> reader(byteorder_);
  reader.set_data_base(static_cast<machine_ptr>(section_.base_address()));
  machine_ptr decoded = 0;
  const dzcrash_error_t err =
      reader.read(&section_, section_.base_address(), static_cast<int64_t>(offset), encoding, &decoded, size);
  *value = decoded;
  return err;
}

// async-signal-safe.
dzcrash_error_t dwarf_eh_frame_hdr::init(dzcrash_task_t task, uint64_t address, uint64_t size,
                                         const dzcrash_async_byteorder_t* byteorder, bool m64) {
  byteorder_ = byteorder;
  m64_ = m64;
  eh_frame_address_ = 0;
  fde_count_ = 0;
  table_entry_size_ = 0;
  if (section_.init(task, address, size) != DZCRASH_OK) return DZCRASH_INVALID_ARGUMENT;
  uint8_t head[4];  // version, eh_frame_ptr encoding, fde_count encoding, table encoding
  if (section_.read(address, 0, head, sizeof(head)) != DZCRASH_OK || head[0] != 1) {
    return DZCRASH_INVALID_ARGUMENT;
  }

  uint64_t offset = sizeof(head);
  uint64_t consumed = 0;
  auto decodeAt = [&](uint8_t encoding, uint64_t* value) {
    const dzcrash_error_t err = m64_ ? decode<uint64_t>(offset, encoding, value, &consumed)
                                     : decode<uint32_t>(offset, encoding, value, &consumed);
    if (err == DZCRASH_OK) offset += consumed;
    return err;
  };
  if (decodeAt(head[1], &eh_frame_address_) != DZCRASH_OK) return DZCRASH_INVALID_ARGUMENT;
  // Without a count or a table the header still names .eh_frame, which is then scanned.
  if (head[2] == DW_EH_PE_omit || head[3] == DW_EH_PE_omit) return DZCRASH_OK;
  if (decodeAt(head[2], &fde_count_) != DZCRASH_OK) {
    fde_count_ = 0;
    return DZCRASH_OK;
  }
  const uint8_t valueSize = dzcrash_async_dwarf_ehptr_format_size(head[3], m64 ? 8 : 4);
  if (valueSize == 0 || (head[3] & DW_EH_PE_indirect) != 0) return DZCRASH_OK;
  // A count the section cannot hold is damage.
  if (fde_count_ > (size - offset) / (2 * valueSize)) {
    fde_count_ = 0;
    return DZCRASH_OK;
  }
  table_offset_ = offset;
  table_encoding_ = head[3];
  table_entry_size_ = 2 * valueSize;
  return DZCRASH_OK;
}

// async-signal-safe.
dzcrash_error_t dwarf_eh_frame_hdr::field(uint64_t index, bool second, uint64_t* value) {
  if (!has_table()) return DZCRASH_NOT_SUPPORTED;
  if (index >= fde_count_) return DZCRASH_NOT_FOUND;
  const uint64_t at = table_offset_ + index * table_entry_size_ + (second ? table_entry_size_ / 2 : 0);
  uint64_t size = 0;
  return m64_ ? decode<uint64_t>(at, table_encoding_, value, &size)
              : decode<uint32_t>(at, table_encoding_, value, &size);
}

// async-signal-safe.
dzcrash_error_t dwarf_eh_frame_hdr::entry(uint64_t index, uint64_t* initial_location, uint64_t* fde_address) {
  const dzcrash_error_t err = field(index, false, initial_location);
  return err != DZCRASH_OK ? err : field(index, true, fde_address);
}

// async-signal-safe.
dzcrash_error_t dwarf_eh_frame_hdr::location(uint64_t index, uint64_t* value) {
  // Linkers write the table as data-relative signed 4-byte values: the probes of a search read those
  // straight from the task (through its cache in a walk) instead of refilling a window each time.
  if (table_encoding_ != (DW_EH_PE_datarel | DW_EH_PE_sdata4)) return field(index, false, value);
  if (index >= fde_count_) return DZCRASH_NOT_FOUND;
  uint32_t raw = 0;
  const dzcrash_error_t err =
      DZcrash_async_task_read_uint32(section_.task(), byteorder_, section_.base_address(),
                                     static_cast<int64_t>(table_offset_ + index * table_entry_size_), &raw);
  if (err != DZCRASH_OK) return err;
  const uint64_t sum =
      section_.base_address() + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(raw)));
  *value = m64_ ? sum : sum & UINT32_MAX;
  return DZCRASH_OK;
}

// async-signal-safe.
dzcrash_error_t dwarf_eh_frame_hdr::find(uint64_t pc, uint64_t* fde_address) {
  if (!has_table()) return DZCRASH_NOT_SUPPORTED;
  if (!m64_) pc &= UINT32_MAX;
  // Ends with lo one past the last entry at or below pc.
  uint64_t lo = 0;
  uint64_t hi = fde_count_;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    uint64_t location = 0;
    const dzcrash_error_t err = this->location(mid, &location);
    if (err != DZCRASH_OK) return err;
    if (location <= pc) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == 0) return DZCRASH_NOT_FOUND;
  return field(lo - 1, true, fde_address);
}

}  // namespace dzcrash::async
