#include "DZCrashReporter/unwind/DZCrashAsyncCompactUnwind.h"

namespace dzcrash {

namespace {

constexpr uint32_t kHeaderSize = 28;
constexpr uint32_t kIndexEntrySize = 12;
constexpr uint32_t kRegularPageKind = 2;
constexpr uint32_t kRegularPageHeaderSize = 8;
constexpr uint32_t kRegularEntrySize = 8;
constexpr uint32_t kCompressedPageKind = 3;
constexpr uint32_t kCompressedPageHeaderSize = 12;
constexpr uint32_t kCompressedEntrySize = 4;

constexpr uint32_t kModeMask = 0x0F000000;
constexpr int kModeShift = 24;
constexpr uint32_t kMaxPermutationCount = 6;

// x86 and x86-64 modes.
constexpr uint32_t kX86ModeNone = 0;
constexpr uint32_t kX86ModeFrame = 1;
constexpr uint32_t kX86ModeStackImmd = 2;
constexpr uint32_t kX86ModeStackInd = 3;
constexpr uint32_t kX86ModeDwarf = 4;

// arm64 modes.
constexpr uint32_t kArm64ModeNone = 0;
constexpr uint32_t kArm64ModeFrameless = 2;
constexpr uint32_t kArm64ModeDwarf = 3;
constexpr uint32_t kArm64ModeFrame = 4;

// Register codes 1-6 of the x86 encodings, as walker register numbers (code 0 is "none").
constexpr uint32_t kX86_64Codes[7] = {DZCRASH_ASYNC_CFE_NO_REG, DZCRASH_X86_64_RBX, DZCRASH_X86_64_R12,
                                      DZCRASH_X86_64_R13,       DZCRASH_X86_64_R14, DZCRASH_X86_64_R15,
                                      DZCRASH_X86_64_RBP};
constexpr uint32_t kX86Codes[7] = {DZCRASH_ASYNC_CFE_NO_REG, DZCRASH_X86_EBX, DZCRASH_X86_ECX,
                                   DZCRASH_X86_EDX,          DZCRASH_X86_EDI, DZCRASH_X86_ESI,
                                   DZCRASH_X86_EBP};

// One table of the section: count entries of `size` bytes at `offset` from the section start, checked
// to lie inside it.
struct Table {
  const uint8_t* bytes;
  uint64_t count;
  uint32_t size;
};

bool mapTable(const dzcrash_async_mobject* mobj, uint64_t offset, uint64_t count, uint32_t size,
              Table* table) {
  const uint64_t length = count * size;  // count <= 2^32 and size <= 12: no wrap
  if (offset > INT64_MAX || length > SIZE_MAX) return false;
  const uint64_t base = DZcrash_async_mobject_base_address(mobj);
  // A zero-length table is valid wherever it starts inside (or at the end of) the section.
  if (length == 0) {
    if (offset > DZcrash_async_mobject_length(mobj)) return false;
    *table = {nullptr, 0, size};
    return true;
  }
  const void* local = DZcrash_async_mobject_remap_address(mobj, base, static_cast<int64_t>(offset),
                                                          static_cast<size_t>(length));
  if (local == nullptr) return false;
  *table = {static_cast<const uint8_t*>(local), count, size};
  return true;
}

uint32_t read32(const dzcrash_async_byteorder_t* byteorder, const uint8_t* at) {
  uint32_t value;
  DZcrash_async_memcpy(&value, at, sizeof(value));
  return byteorder->swap32(value);
}

uint16_t read16(const dzcrash_async_byteorder_t* byteorder, const uint8_t* at) {
  uint16_t value;
  DZcrash_async_memcpy(&value, at, sizeof(value));
  return byteorder->swap16(value);
}

// The last of `count` entries whose key is <= target, in a table sorted by key. False when the target
// lies below the first key or the table is empty.
template <typename KeyAt>
bool findLast(uint64_t count, uint64_t target, KeyAt keyAt, uint64_t* found) {
  if (count == 0 || target < keyAt(0)) return false;
  uint64_t low = 0;
  uint64_t high = count - 1;
  while (low < high) {
    const uint64_t mid = low + (high - low + 1) / 2;
    if (keyAt(mid) <= target) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  *found = low;
  return true;
}

dzcrash_error_t findInCompressedPage(const dzcrash_async_cfe_reader* reader, const Table& common,
                                     uint64_t pageOffset, uint32_t firstLevelOffset, uint64_t pc,
                                     uint64_t* function_offset, uint32_t* encoding) {
  const dzcrash_async_byteorder_t* bo = reader->byteorder;
  Table header;
  if (!mapTable(reader->mobj, pageOffset, 1, kCompressedPageHeaderSize, &header)) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  const uint16_t entriesOffset = read16(bo, header.bytes + 4);
  const uint16_t entriesCount = read16(bo, header.bytes + 6);
  const uint16_t encodingsOffset = read16(bo, header.bytes + 8);
  const uint16_t encodingsCount = read16(bo, header.bytes + 10);
  Table entries;
  if (!mapTable(reader->mobj, pageOffset + entriesOffset, entriesCount, kCompressedEntrySize, &entries)) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  auto keyAt = [&](uint64_t i) {
    return uint64_t{firstLevelOffset} + (read32(bo, entries.bytes + i * kCompressedEntrySize) & 0xFFFFFF);
  };
  uint64_t index = 0;
  if (!findLast(entries.count, pc, keyAt, &index)) return DZCRASH_NOT_FOUND;
  const uint32_t entry = read32(bo, entries.bytes + index * kCompressedEntrySize);
  const uint32_t encodingIndex = entry >> 24;
  *function_offset = keyAt(index);
  if (encodingIndex < common.count) {
    *encoding = read32(bo, common.bytes + encodingIndex * 4);
    return DZCRASH_OK;
  }
  const uint8_t local = static_cast<uint8_t>(encodingIndex - common.count);
  Table pageEncodings;
  if (!mapTable(reader->mobj, pageOffset + encodingsOffset, encodingsCount, 4, &pageEncodings) ||
      local >= pageEncodings.count) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  *encoding = read32(bo, pageEncodings.bytes + local * 4);
  return DZCRASH_OK;
}

dzcrash_error_t findInRegularPage(const dzcrash_async_cfe_reader* reader, uint64_t pageOffset, uint64_t pc,
                                  uint64_t* function_offset, uint32_t* encoding) {
  const dzcrash_async_byteorder_t* bo = reader->byteorder;
  Table header;
  if (!mapTable(reader->mobj, pageOffset, 1, kRegularPageHeaderSize, &header))
    return DZCRASH_INVALID_ARGUMENT;
  const uint16_t entriesOffset = read16(bo, header.bytes + 4);
  const uint16_t entriesCount = read16(bo, header.bytes + 6);
  Table entries;
  if (!mapTable(reader->mobj, pageOffset + entriesOffset, entriesCount, kRegularEntrySize, &entries)) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  auto keyAt = [&](uint64_t i) { return uint64_t{read32(bo, entries.bytes + i * kRegularEntrySize)}; };
  uint64_t index = 0;
  if (!findLast(entries.count, pc, keyAt, &index)) return DZCRASH_NOT_FOUND;
  *function_offset = keyAt(index);
  *encoding = read32(bo, entries.bytes + index * kRegularEntrySize + 4);
  return DZCRASH_OK;
}

// Maps a 3-bit register code of an x86 encoding; false for code 7, which names no register.
bool mapX86Code(uint32_t cpu_type, uint32_t code, uint32_t* regnum) {
  if (code > 6) return false;
  *regnum = cpu_type == DZCRASH_CPU_TYPE_X86 ? kX86Codes[code] : kX86_64Codes[code];
  return true;
}

dzcrash_error_t decodeX86(dzcrash_async_cfe_entry* entry, uint32_t encoding) {
  const uint64_t w = entry->cpu_type == DZCRASH_CPU_TYPE_X86 ? 4 : 8;
  const uint32_t mode = (encoding & kModeMask) >> kModeShift;
  const uint32_t sizeField = (encoding >> 16) & 0xFF;
  switch (mode) {
    case kX86ModeNone:
      entry->type = DZCRASH_ASYNC_CFE_TYPE_NONE;
      entry->stack_offset = 0;
      return DZCRASH_OK;
    case kX86ModeFrame: {
      entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAME;
      entry->stack_offset = -static_cast<int64_t>(sizeField * w);
      const uint32_t field = encoding & 0x7FFF;
      for (uint32_t slot = 0; slot < 5 && (field >> (3 * slot)) != 0; ++slot) {
        if (!mapX86Code(entry->cpu_type, (field >> (3 * slot)) & 7, &entry->register_list[slot])) {
          return DZCRASH_INVALID_ARGUMENT;
        }
        entry->register_count = slot + 1;
      }
      return DZCRASH_OK;
    }
    case kX86ModeStackImmd:
    case kX86ModeStackInd: {
      if (mode == kX86ModeStackImmd) {
        entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD;
        entry->stack_offset = static_cast<int64_t>(sizeField * w);
      } else {
        entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT;
        entry->stack_offset = sizeField;
        entry->stack_adjust = static_cast<uint32_t>(((encoding >> 13) & 7) * w);
      }
      const uint32_t count = (encoding >> 10) & 7;
      uint32_t codes[kMaxPermutationCount];
      const dzcrash_error_t err = DZcrash_async_cfe_register_decode(encoding & 0x3FF, count, codes);
      if (err != DZCRASH_OK) return err;
      for (uint32_t i = 0; i < count; ++i) {
        if (!mapX86Code(entry->cpu_type, codes[i], &entry->register_list[i])) return DZCRASH_INVALID_ARGUMENT;
      }
      entry->register_count = count;
      return DZCRASH_OK;
    }
    case kX86ModeDwarf:
      entry->type = DZCRASH_ASYNC_CFE_TYPE_DWARF;
      entry->stack_offset = encoding & 0xFFFFFF;
      return DZCRASH_OK;
    default:
      return DZCRASH_NOT_SUPPORTED;
  }
}

dzcrash_error_t decodeArm64(dzcrash_async_cfe_entry* entry, uint32_t encoding) {
  const uint32_t mode = (encoding & kModeMask) >> kModeShift;
  switch (mode) {
    case kArm64ModeNone:
      entry->type = DZCRASH_ASYNC_CFE_TYPE_NONE;
      entry->stack_offset = 0;
      return DZCRASH_OK;
    case kArm64ModeDwarf:
      entry->type = DZCRASH_ASYNC_CFE_TYPE_DWARF;
      entry->stack_offset = encoding & 0xFFFFFF;
      return DZCRASH_OK;
    case kArm64ModeFrameless:
    case kArm64ModeFrame: {
      // Saved pairs by flag bit, the highest bit's pair first.
      for (int bit = 4; bit >= 0; --bit) {
        if ((encoding & (1u << bit)) == 0) continue;
        const uint32_t high = 23 + 2 * static_cast<uint32_t>(bit);
        entry->register_list[entry->register_count++] = high;
        entry->register_list[entry->register_count++] = high - 1;
      }
      if (mode == kArm64ModeFrameless) {
        entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD;
        entry->stack_offset = static_cast<int64_t>(((encoding >> 12) & 0xFFF) * 16);
        entry->return_address_register = DZCRASH_ASYNC_CFE_ARM64_LR;
      } else {
        entry->type = DZCRASH_ASYNC_CFE_TYPE_FRAME;
        entry->stack_offset = -static_cast<int64_t>(8 * entry->register_count);
      }
      return DZCRASH_OK;
    }
    default:
      return DZCRASH_NOT_SUPPORTED;
  }
}

// Reads one general register's worth (w bytes) from the task.
dzcrash_error_t readWord(dzcrash_task_t task, uint64_t address, uint64_t w, uint64_t* value) {
  *value = 0;
  if (w == 8) return DZcrash_async_task_memcpy(task, address, 0, value, 8);
  uint32_t word = 0;
  const dzcrash_error_t err = DZcrash_async_task_memcpy(task, address, 0, &word, 4);
  *value = word;
  return err;
}

uint32_t stateCpuType(const dzcrash_async_thread_state* state) {
  return state->thread.tsh.flavor == DZCRASH_X86_THREAD_STATE32 ? DZCRASH_CPU_TYPE_X86
                                                                : DZCRASH_CPU_TYPE_X86_64;
}

}  // namespace

dzcrash_error_t DZcrash_async_cfe_reader_init(dzcrash_async_cfe_reader* reader,
                                              const dzcrash_async_mobject* mobj, uint32_t cpu_type) {
  if (cpu_type != DZCRASH_CPU_TYPE_X86 && cpu_type != DZCRASH_CPU_TYPE_X86_64 &&
      cpu_type != DZCRASH_CPU_TYPE_ARM64) {
    return DZCRASH_NOT_SUPPORTED;
  }
  reader->mobj = mobj;
  reader->cpu_type = cpu_type;
  reader->byteorder = DZcrash_async_byteorder_little_endian();
  Table header;
  if (!mapTable(mobj, 0, 1, kHeaderSize, &header)) return DZCRASH_INVALID_ARGUMENT;
  uint32_t* const fields[] = {&reader->header.version,
                              &reader->header.common_encodings_offset,
                              &reader->header.common_encodings_count,
                              &reader->header.personality_offset,
                              &reader->header.personality_count,
                              &reader->header.index_offset,
                              &reader->header.index_count};
  for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); ++i) {
    *fields[i] = read32(reader->byteorder, header.bytes + 4 * i);
  }
  if (reader->header.version != 1) return DZCRASH_NOT_SUPPORTED;
  return DZCRASH_OK;
}

dzcrash_error_t DZcrash_async_cfe_reader_find_pc(const dzcrash_async_cfe_reader* reader, uint64_t pc,
                                                 uint64_t* function_offset, uint32_t* encoding) {
  const dzcrash_async_byteorder_t* bo = reader->byteorder;
  const dzcrash_async_cfe_header& h = reader->header;
  Table common;
  if (!mapTable(reader->mobj, h.common_encodings_offset, h.common_encodings_count, 4, &common)) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  if (h.index_count == 0) return DZCRASH_NOT_FOUND;
  // The last first-level entry is a sentinel that only marks the end; it is never read.
  Table index;
  if (!mapTable(reader->mobj, h.index_offset, h.index_count - 1, kIndexEntrySize, &index)) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  auto functionOffsetAt = [&](uint64_t i) { return uint64_t{read32(bo, index.bytes + i * kIndexEntrySize)}; };
  uint64_t found = 0;
  if (!findLast(index.count, pc, functionOffsetAt, &found)) return DZCRASH_NOT_FOUND;
  const uint32_t firstLevelOffset = read32(bo, index.bytes + found * kIndexEntrySize);
  const uint64_t pageOffset = read32(bo, index.bytes + found * kIndexEntrySize + 4);

  Table kind;
  if (!mapTable(reader->mobj, pageOffset, 1, 4, &kind)) return DZCRASH_INVALID_ARGUMENT;
  switch (read32(bo, kind.bytes)) {
    case kCompressedPageKind:
      return findInCompressedPage(reader, common, pageOffset, firstLevelOffset, pc, function_offset,
                                  encoding);
    case kRegularPageKind:
      return findInRegularPage(reader, pageOffset, pc, function_offset, encoding);
    default:
      return DZCRASH_INVALID_ARGUMENT;
  }
}

void DZcrash_async_cfe_reader_free(dzcrash_async_cfe_reader*) {}

dzcrash_error_t DZcrash_async_cfe_entry_init(dzcrash_async_cfe_entry* entry, uint32_t cpu_type,
                                             uint32_t encoding) {
  DZcrash_async_memset(entry, 0, sizeof(*entry));
  entry->cpu_type = cpu_type;
  entry->stack_adjust = 0;
  entry->return_address_register = DZCRASH_ASYNC_CFE_NO_REG;
  dzcrash_error_t err;
  switch (cpu_type) {
    case DZCRASH_CPU_TYPE_X86:
    case DZCRASH_CPU_TYPE_X86_64:
      err = decodeX86(entry, encoding);
      break;
    case DZCRASH_CPU_TYPE_ARM64:
      err = decodeArm64(entry, encoding);
      break;
    default:
      err = DZCRASH_NOT_SUPPORTED;
      break;
  }
  // A failed decode leaves no half-filled register list behind.
  if (err != DZCRASH_OK) entry->register_count = 0;
  return err;
}

dzcrash_async_cfe_type DZcrash_async_cfe_entry_type(const dzcrash_async_cfe_entry* entry) {
  return entry->type;
}

int64_t DZcrash_async_cfe_entry_stack_offset(const dzcrash_async_cfe_entry* entry) {
  return entry->stack_offset;
}

uint32_t DZcrash_async_cfe_entry_stack_adjustment(const dzcrash_async_cfe_entry* entry) {
  return entry->stack_adjust;
}

uint32_t DZcrash_async_cfe_entry_return_address_register(const dzcrash_async_cfe_entry* entry) {
  return entry->return_address_register;
}

uint32_t DZcrash_async_cfe_entry_register_count(const dzcrash_async_cfe_entry* entry) {
  return entry->register_count;
}

void DZcrash_async_cfe_entry_register_list(const dzcrash_async_cfe_entry* entry, uint32_t* register_list) {
  for (uint32_t i = 0; i < entry->register_count && i < DZCRASH_ASYNC_CFE_SAVED_REGISTER_MAX; ++i) {
    register_list[i] = entry->register_list[i];
  }
}

dzcrash_error_t DZcrash_async_cfe_entry_apply(dzcrash_task_t task, uint64_t function_address,
                                              const dzcrash_async_thread_state* current,
                                              const dzcrash_async_cfe_entry* entry,
                                              dzcrash_async_thread_state* next) {
  if (entry->cpu_type != stateCpuType(current)) return DZCRASH_NOT_SUPPORTED;
  const uint64_t w = current->greg_size;
  DZcrash_async_thread_state_copy(next, current);
  DZcrash_async_thread_state_clear_volatile_regs(next);

  uint64_t savedBase = 0;
  switch (entry->type) {
    case DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD:
    case DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT: {
      if (!DZcrash_async_thread_state_has_reg(current, DZCRASH_REG_SP)) return DZCRASH_NOT_FOUND;
      uint64_t stackSize = static_cast<uint64_t>(entry->stack_offset);
      if (entry->type == DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT) {
        uint32_t immediate = 0;
        const dzcrash_error_t err = DZcrash_async_task_memcpy(task, function_address, entry->stack_offset,
                                                              &immediate, sizeof(immediate));
        if (err != DZCRASH_OK) return err;
        stackSize = static_cast<uint32_t>(immediate + entry->stack_adjust);
      }
      uint64_t sp = 0;
      if (__builtin_add_overflow(DZcrash_async_thread_state_get_reg(current, DZCRASH_REG_SP), stackSize,
                                 &sp)) {
        return DZCRASH_INVALID_ARGUMENT;
      }
      DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_SP, sp);
      const uint64_t savedBytes = entry->register_count * w;
      uint64_t ip = 0;
      if (entry->return_address_register == DZCRASH_ASYNC_CFE_NO_REG) {
        if (sp < w + savedBytes) return DZCRASH_INVALID_ARGUMENT;
        const dzcrash_error_t err = readWord(task, sp - w, w, &ip);
        if (err != DZCRASH_OK) return err;
        savedBase = sp - w - savedBytes;
      } else {
        if (!DZcrash_async_thread_state_has_reg(current, entry->return_address_register))
          return DZCRASH_NOT_FOUND;
        if (sp < savedBytes) return DZCRASH_INVALID_ARGUMENT;
        ip = DZcrash_async_thread_state_get_reg(current, entry->return_address_register);
        savedBase = sp - savedBytes;
      }
      DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_IP, ip);
      break;
    }
    case DZCRASH_ASYNC_CFE_TYPE_FRAME: {
      if (!DZcrash_async_thread_state_has_reg(current, DZCRASH_REG_FP)) return DZCRASH_NOT_FOUND;
      const uint64_t fp = DZcrash_async_thread_state_get_reg(current, DZCRASH_REG_FP);
      uint64_t sp = 0;
      if (!DZcrash_async_address_apply_offset(fp, entry->stack_offset, &savedBase) ||
          __builtin_add_overflow(fp, 2 * w, &sp)) {
        return DZCRASH_INVALID_ARGUMENT;
      }
      DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_SP, sp);
      uint64_t callerFp = 0;
      uint64_t ip = 0;
      dzcrash_error_t err = readWord(task, fp, w, &callerFp);
      if (err == DZCRASH_OK) err = readWord(task, fp + w, w, &ip);
      if (err != DZCRASH_OK) return err;
      DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_FP, callerFp);
      DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_IP, ip);
      break;
    }
    case DZCRASH_ASYNC_CFE_TYPE_DWARF:
    case DZCRASH_ASYNC_CFE_TYPE_NONE:
    default:
      return DZCRASH_NOT_SUPPORTED;
  }

  for (uint32_t i = 0; i < entry->register_count && i < DZCRASH_ASYNC_CFE_SAVED_REGISTER_MAX; ++i) {
    if (entry->register_list[i] == DZCRASH_ASYNC_CFE_NO_REG) continue;
    uint64_t value = 0;
    const dzcrash_error_t err = readWord(task, savedBase + i * w, w, &value);
    if (err != DZCRASH_OK) return err;
    DZcrash_async_thread_state_set_reg(next, entry->register_list[i], value);
  }
  return DZCRASH_OK;
}

void DZcrash_async_cfe_entry_free(dzcrash_async_cfe_entry*) {}

dzcrash_error_t DZcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count, uint32_t* registers) {
  if (count > kMaxPermutationCount) return DZCRASH_INVALID_ARGUMENT;
  uint32_t digits[kMaxPermutationCount] = {};
  const uint32_t p = permutation;
  switch (count) {
    case 6:
    case 5:
      digits[0] = p / 120, digits[1] = (p % 120) / 24, digits[2] = (p % 24) / 6, digits[3] = (p % 6) / 2;
      digits[4] = p % 2;
      break;
    case 4:
      digits[0] = p / 60, digits[1] = (p % 60) / 12, digits[2] = (p % 12) / 3, digits[3] = p % 3;
      break;
    case 3:
      digits[0] = p / 20, digits[1] = (p % 20) / 4, digits[2] = p % 4;
      break;
    case 2:
      digits[0] = p / 5, digits[1] = p % 5;
      break;
    case 1:
      digits[0] = p;
      break;
    default:
      break;
  }
  // Each digit picks among the codes still unused, counting from 1.
  bool used[7] = {};
  for (uint32_t i = 0; i < count; ++i) {
    registers[i] = 0;
    uint32_t skip = digits[i];
    for (uint32_t code = 1; code <= 6; ++code) {
      if (used[code]) continue;
      if (skip == 0) {
        registers[i] = code;
        used[code] = true;
        break;
      }
      --skip;
    }
  }
  return DZCRASH_OK;
}

uint32_t DZcrash_async_cfe_register_encode(const uint32_t* registers, uint32_t count) {
  if (count == 0 || count > kMaxPermutationCount) return 0;
  uint32_t renumbered[kMaxPermutationCount] = {};
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t smallerBefore = 0;
    for (uint32_t j = 0; j < i; ++j) smallerBefore += registers[j] < registers[i] ? 1 : 0;
    renumbered[i] = registers[i] - 1 - smallerBefore;
  }
  const uint32_t* r = renumbered;
  switch (count) {
    case 1:
      return r[0];
    case 2:
      return 5 * r[0] + r[1];
    case 3:
      return 20 * r[0] + 4 * r[1] + r[2];
    case 4:
      return 60 * r[0] + 12 * r[1] + 3 * r[2] + r[3];
    default:
      return 120 * r[0] + 24 * r[1] + 6 * r[2] + 2 * r[3] + r[4];
  }
}

}  // namespace dzcrash
