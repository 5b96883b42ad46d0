#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCIE.h"

namespace dzcrash::async {

namespace {

// Augmentation strings are short ("zPLR", "zRS"); a longer one is damage.
constexpr int64_t kMaxAugmentationLength = 64;

}  // namespace

// async-signal-safe.
dzcrash_error_t dzcrash_async_dwarf_read_entry_length(dwarf_section* section,
                                                      const dzcrash_async_byteorder_t* byteorder,
                                                      uint64_t address, uint64_t* length,
                                                      uint64_t* header_size) {
  uint32_t length32 = 0;
  const dzcrash_error_t err = section->read_uint32(byteorder, address, 0, &length32);
  if (err != DZCRASH_OK) return err;
  *length = length32;
  *header_size = 4;
  if (length32 != DZCRASH_DWARF_LENGTH_64) return DZCRASH_OK;
  *header_size = DZCRASH_DWARF_HEADER_64;
  return section->read_uint64(byteorder, address, 4, length);
}

// async-signal-safe.
dzcrash_error_t dzcrash_async_dwarf_read_entry_span(dwarf_section* section,
                                                    const dzcrash_async_byteorder_t* byteorder,
                                                    uint64_t address, dzcrash_async_dwarf_entry_span* span) {
  if (!section->contains(address, 0, 0)) return DZCRASH_INVALID_ARGUMENT;
  uint64_t header = 0;
  const dzcrash_error_t err =
      dzcrash_async_dwarf_read_entry_length(section, byteorder, address, &span->length, &header);
  if (err != DZCRASH_OK) return err;
  span->m64 = header == DZCRASH_DWARF_HEADER_64;
  span->content = address + header;
  if (!section->contains(span->content, 0, span->length)) return DZCRASH_INVALID_ARGUMENT;
  span->end = span->content + span->length;
  return DZCRASH_OK;
}

// async-signal-safe.
template <typename machine_ptr>
dzcrash_error_t dzcrash_async_dwarf_cie_info_init(dzcrash_async_dwarf_cie_info* info, dwarf_section* section,
                                                  const dzcrash_async_byteorder_t* byteorder,
                                                  const gnu_ehptr_reader<machine_ptr>* reader,
                                                  uint64_t address) {
  DZcrash_async_memset(info, 0, sizeof(*info));
  dzcrash_async_dwarf_entry_span span;
  dzcrash_error_t err = dzcrash_async_dwarf_read_entry_span(section, byteorder, address, &span);
  if (err != DZCRASH_OK) return err;
  const bool m64 = span.m64;
  int64_t pos = static_cast<int64_t>(span.content - address);
  info->cie_offset = span.content - section->base_address();
  info->cie_length = span.length;
  // Everything below reads inside [content, end).
  const uint64_t end = span.end;

  // The id, which tells a CIE (0 in eh_frame, all ones in debug_frame) from an FDE.
  const uint8_t idSize = m64 ? 8 : 4;
  if ((err = dzcrash_async_dwarf_read_uintmax64(section, byteorder, address, pos, idSize, &info->cie_id)) !=
      DZCRASH_OK) {
    return err;
  }
  pos += idSize;
  const uint64_t allOnes = m64 ? UINT64_MAX : UINT32_MAX;
  if (info->cie_id != 0 && info->cie_id != allOnes) return DZCRASH_INVALID_ARGUMENT;

  if ((err = section->read_uint8(address, pos++, &info->cie_version)) != DZCRASH_OK) return err;
  if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4) {
    return DZCRASH_INVALID_ARGUMENT;
  }

  // The augmentation string; its letters are read again below, once the data they describe is reached.
  const int64_t augmentation = pos;
  uint8_t letter = 0;
  if ((err = section->read_uint8(address, pos, &letter)) != DZCRASH_OK) return err;
  if (letter != 0 && letter != 'z') return DZCRASH_NOT_SUPPORTED;
  info->has_eh_augmentation = letter == 'z';
  for (int64_t n = 0;; ++n) {
    if (n > kMaxAugmentationLength) return DZCRASH_INVALID_ARGUMENT;
    if ((err = section->read_uint8(address, pos++, &letter)) != DZCRASH_OK) return err;
    if (letter == 0) break;
  }

  if (info->cie_version == 4) {
    if ((err = section->read_uint8(address, pos++, &info->address_size)) != DZCRASH_OK) return err;
    if ((err = section->read_uint8(address, pos++, &info->segment_size)) != DZCRASH_OK) return err;
  }

  uint64_t size = 0;
  if ((err = dzcrash_async_dwarf_read_uleb128(section, address, pos, &info->code_alignment_factor, &size)) !=
      DZCRASH_OK) {
    return err;
  }
  pos += static_cast<int64_t>(size);
  if ((err = dzcrash_async_dwarf_read_sleb128(section, address, pos, &info->data_alignment_factor, &size)) !=
      DZCRASH_OK) {
    return err;
  }
  pos += static_cast<int64_t>(size);
  if ((err = dzcrash_async_dwarf_read_uleb128(section, address, pos, &info->return_address_register,
                                              &size)) != DZCRASH_OK) {
    return err;
  }
  pos += static_cast<int64_t>(size);

  if (info->has_eh_augmentation) {
    uint64_t dataLength = 0;
    if ((err = dzcrash_async_dwarf_read_uleb128(section, address, pos, &dataLength, &size)) != DZCRASH_OK) {
      return err;
    }
    pos += static_cast<int64_t>(size);
    const int64_t data = pos;
    if (!section->contains(address, data, dataLength) ||
        address + static_cast<uint64_t>(data) + dataLength > end) {
      return DZCRASH_INVALID_ARGUMENT;
    }
    // Each letter after the 'z' takes its data in order; the first unknown letter ends the scan, and
    // the data's length says where the instructions begin whatever the letters took.
    int64_t at = data;
    for (int64_t i = augmentation + 1;; ++i) {
      if ((err = section->read_uint8(address, i, &letter)) != DZCRASH_OK) return err;
      if (letter == 'L') {
        if ((err = section->read_uint8(address, at++, &info->eh_augmentation.lsda_encoding)) != DZCRASH_OK) {
          return err;
        }
        info->eh_augmentation.has_lsda_encoding = true;
      } else if (letter == 'P') {
        uint8_t encoding = 0;
        if ((err = section->read_uint8(address, at++, &encoding)) != DZCRASH_OK) return err;
        machine_ptr personality = 0;
        if ((err = reader->read(section, address, at, encoding, &personality, &size)) != DZCRASH_OK) {
          return err;
        }
        at += static_cast<int64_t>(size);
        info->eh_augmentation.personality_address = personality;
        info->eh_augmentation.has_personality_address = true;
      } else if (letter == 'R') {
        if ((err = section->read_uint8(address, at++, &info->eh_augmentation.pointer_encoding)) !=
            DZCRASH_OK) {
          return err;
        }
        info->eh_augmentation.has_pointer_encoding = true;
      } else if (letter == 'S') {
        info->eh_augmentation.signal_frame = true;
      } else {
        break;
      }
    }
    pos = data + static_cast<int64_t>(dataLength);
  }

  const uint64_t instructions = address + static_cast<uint64_t>(pos);
  if (instructions > end) return DZCRASH_INVALID_ARGUMENT;
  info->initial_instructions_offset = instructions - section->base_address();
  info->initial_instructions_length = end - instructions;
  return DZCRASH_OK;
}

uint64_t dzcrash_async_dwarf_cie_info_initial_instructions_offset(const dzcrash_async_dwarf_cie_info* info) {
  return info->initial_instructions_offset;
}

uint64_t dzcrash_async_dwarf_cie_info_initial_instructions_length(const dzcrash_async_dwarf_cie_info* info) {
  return info->initial_instructions_length;
}

void dzcrash_async_dwarf_cie_info_free(dzcrash_async_dwarf_cie_info*) {}

template dzcrash_error_t dzcrash_async_dwarf_cie_info_init<uint32_t>(dzcrash_async_dwarf_cie_info*,
                                                                     dwarf_section*,
                                                                     const dzcrash_async_byteorder_t*,
                                                                     const gnu_ehptr_reader<uint32_t>*,
                                                                     uint64_t);
template dzcrash_error_t dzcrash_async_dwarf_cie_info_init<uint64_t>(dzcrash_async_dwarf_cie_info*,
                                                                     dwarf_section*,
                                                                     const dzcrash_async_byteorder_t*,
                                                                     const gnu_ehptr_reader<uint64_t>*,
                                                                     uint64_t);

// async-signal-safe.
const dzcrash_async_dwarf_cie_info* dwarf_cie_cache::find(const dwarf_section* section,
                                                          const dzcrash_async_byteorder_t* byteorder,
                                                          bool m64, uint64_t address) const {
  for (uint8_t i = 0; i < count_; ++i) {
    const entry& e = entries_[i];
    if (e.address == address && e.section_address == section->base_address() &&
        e.section_length == section->length() && e.byteorder == byteorder && e.m64 == m64) {
      return &e.cie;
    }
  }
  return nullptr;
}

// async-signal-safe.
void dwarf_cie_cache::insert(const dwarf_section* section, const dzcrash_async_byteorder_t* byteorder,
                             bool m64, uint64_t address, const dzcrash_async_dwarf_cie_info& cie) {
  uint8_t slot;
  if (count_ < kEntries) {
    slot = count_++;
  } else {
    slot = next_;
    next_ = static_cast<uint8_t>((next_ + 1) % kEntries);
  }
  entries_[slot] = {section->base_address(), section->length(), address, byteorder, m64, cie};
}

}  // namespace dzcrash::async
