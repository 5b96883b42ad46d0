#include "DZCrashReporter/unwind/DZCrashAsyncDwarfEncoding.h"

namespace dzcrash::async {

// async-signal-safe.
uint8_t dzcrash_async_dwarf_ehptr_format_size(uint8_t encoding, uint8_t word_size) {
  switch (encoding & DW_EH_PE_FORMAT_MASK) {
    case DW_EH_PE_absptr:
      return word_size;
    case DW_EH_PE_udata2:
    case DW_EH_PE_sdata2:
      return 2;
    case DW_EH_PE_udata4:
    case DW_EH_PE_sdata4:
      return 4;
    case DW_EH_PE_udata8:
    case DW_EH_PE_sdata8:
      return 8;
    default:
      return 0;
  }
}

template <typename machine_ptr>
void gnu_ehptr_reader<machine_ptr>::set_frame_section_base(machine_ptr frame_section_base,
                                                           machine_ptr frame_section_vm_addr) {
  frame_section_ = {true, frame_section_base};
  frame_section_vm_addr_ = frame_section_vm_addr;
}

template <typename machine_ptr>
void gnu_ehptr_reader<machine_ptr>::set_text_base(machine_ptr text_base) {
  text_ = {true, text_base};
}

template <typename machine_ptr>
void gnu_ehptr_reader<machine_ptr>::set_data_base(machine_ptr data_base) {
  data_ = {true, data_base};
}

template <typename machine_ptr>
void gnu_ehptr_reader<machine_ptr>::set_func_base(machine_ptr func_base) {
  func_ = {true, func_base};
}

// async-signal-safe.
template <typename machine_ptr>
dzcrash_error_t gnu_ehptr_reader<machine_ptr>::read(dwarf_section* section, uint64_t location, int64_t offset,
                                                    uint8_t encoding, machine_ptr* result,
                                                    uint64_t* size) const {
  if (encoding == DW_EH_PE_omit) return DZCRASH_NOT_FOUND;
  constexpr uint8_t kWord = sizeof(machine_ptr);
  uint64_t fieldAddress = 0;
  if (!DZcrash_async_address_apply_offset(location, offset, &fieldAddress)) return DZCRASH_INVALID_ARGUMENT;

  machine_ptr base = 0;
  uint64_t padding = 0;
  switch (encoding & DW_EH_PE_APPLICATION_MASK) {
    case 0:
      break;
    case DW_EH_PE_pcrel:
      base = static_cast<machine_ptr>(fieldAddress);
      break;
    case DW_EH_PE_textrel:
      if (!text_.valid) return DZCRASH_NOT_SUPPORTED;
      base = text_.address;
      break;
    case DW_EH_PE_datarel:
      if (!data_.valid) return DZCRASH_NOT_SUPPORTED;
      base = data_.address;
      break;
    case DW_EH_PE_funcrel:
      if (!func_.valid) return DZCRASH_NOT_SUPPORTED;
      base = func_.address;
      break;
    case DW_EH_PE_aligned: {
      if (!frame_section_.valid) return DZCRASH_NOT_SUPPORTED;
      // Where the field lies once loaded, and how far that is from the next word boundary.
      const machine_ptr loaded = static_cast<machine_ptr>(
          frame_section_vm_addr_ + (static_cast<machine_ptr>(fieldAddress) - frame_section_.address));
      padding = (kWord - loaded % kWord) % kWord;
      break;
    }
    default:
      return DZCRASH_NOT_SUPPORTED;
  }

  const int64_t at = offset + static_cast<int64_t>(padding);
  machine_ptr value = 0;
  uint64_t valueSize = 0;
  const uint8_t format = (encoding & DW_EH_PE_APPLICATION_MASK) == DW_EH_PE_aligned
                             ? DW_EH_PE_absptr
                             : encoding & DW_EH_PE_FORMAT_MASK;
  const dzcrash_async_byteorder_t* bo = byteorder_;
  dzcrash_error_t err = DZCRASH_OK;
  switch (format) {
    case DW_EH_PE_uleb128: {
      uint64_t v = 0;
      err = dzcrash_async_dwarf_read_uleb128(section, location, at, &v, &valueSize);
      value = static_cast<machine_ptr>(v);
      break;
    }
    case DW_EH_PE_sleb128: {
      int64_t v = 0;
      err = dzcrash_async_dwarf_read_sleb128(section, location, at, &v, &valueSize);
      value = static_cast<machine_ptr>(v);
      break;
    }
    case DW_EH_PE_absptr:
    case DW_EH_PE_udata2:
    case DW_EH_PE_udata4:
    case DW_EH_PE_udata8: {
      valueSize = dzcrash_async_dwarf_ehptr_format_size(format, kWord);
      uint64_t v = 0;
      err =
          dzcrash_async_dwarf_read_uintmax64(section, bo, location, at, static_cast<uint8_t>(valueSize), &v);
      value = static_cast<machine_ptr>(v);
      break;
    }
    case DW_EH_PE_sdata2: {
      uint16_t v = 0;
      err = section->read_uint16(bo, location, at, &v);
      value = static_cast<machine_ptr>(static_cast<int64_t>(static_cast<int16_t>(v)));
      valueSize = 2;
      break;
    }
    case DW_EH_PE_sdata4: {
      uint32_t v = 0;
      err = section->read_uint32(bo, location, at, &v);
      value = static_cast<machine_ptr>(static_cast<int64_t>(static_cast<int32_t>(v)));
      valueSize = 4;
      break;
    }
    case DW_EH_PE_sdata8: {
      uint64_t v = 0;
      err = section->read_uint64(bo, location, at, &v);
      value = static_cast<machine_ptr>(v);
      valueSize = 8;
      break;
    }
    default:
      return DZCRASH_NOT_SUPPORTED;
  }
  if (err != DZCRASH_OK) return err;

  machine_ptr pointer = static_cast<machine_ptr>(base + value);
  if ((encoding & DW_EH_PE_indirect) != 0) {
    if (sizeof(machine_ptr) == 8) {
      uint64_t target = 0;
      err = DZcrash_async_task_read_uint64(section->task(), bo, pointer, 0, &target);
      pointer = static_cast<machine_ptr>(target);
    } else {
      uint32_t target = 0;
      err = DZcrash_async_task_read_uint32(section->task(), bo, pointer, 0, &target);
      pointer = static_cast<machine_ptr>(target);
    }
    if (err != DZCRASH_OK) return err;
  }
  *result = pointer;
  *size = padding + valueSize;
  return DZCRASH_OK;
}

template class gnu_ehptr_reader<uint32_t>;
template class gnu_ehptr_reader<uint64_t>;

}  // namespace dzcrash::async
