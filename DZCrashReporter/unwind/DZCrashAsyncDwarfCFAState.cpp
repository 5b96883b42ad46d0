#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCFAState.h"

#include "DZCrashReporter/unwind/DZCrashAsyncDwarfExpression.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfOpstream.h"

namespace dzcrash::async {

template <typename machine_ptr, typename machine_ptr_s>
dwarf_cfa_state<machine_ptr, machine_ptr_s>::dwarf_cfa_state() {
  // Entries are handed out from unused_ upward before any freed one is reused, which is the order a
  // free list holding every entry in order would give; only level 0 needs to start empty.
  reset_level(0);
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::reset_level(uint8_t levelIndex) {
  level& l = levels_[levelIndex];
  for (uint8_t& bucket : l.buckets) bucket = kEmpty;
  l.count = 0;
  l.cfa = cfa_rule{CFA_TYPE_UNDEFINED, 0, 0, 0, 0};
}

template <typename machine_ptr, typename machine_ptr_s>
uint8_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::allocate() {
  if (free_head_ != kEmpty) {
    const uint8_t index = free_head_;
    free_head_ = entries_[index].next;
    return index;
  }
  if (unused_ < kMaxRegisters) return unused_++;
  return kEmpty;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::release(uint8_t index) {
  entries_[index].next = free_head_;
  free_head_ = index;
}

template <typename machine_ptr, typename machine_ptr_s>
uint8_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::find(uint32_t regnum, uint8_t* previous) const {
  *previous = kEmpty;
  for (uint8_t i = levels_[level_].buckets[regnum % kBuckets]; i != kEmpty; i = entries_[i].next) {
    if (entries_[i].regnum == regnum) return i;
    *previous = i;
  }
  return kEmpty;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_register(uint32_t regnum,
                                                               dzcrash_dwarf_cfa_reg_rule_t rule,
                                                               machine_ptr value) {
  uint8_t previous = kEmpty;
  uint8_t index = find(regnum, &previous);
  if (index == kEmpty) {
    index = allocate();
    if (index == kEmpty) return false;
    // Appended, so that a bucket keeps its registers in the order they were added.
    entries_[index].regnum = regnum;
    entries_[index].next = kEmpty;
    level& l = levels_[level_];
    if (previous == kEmpty) {
      l.buckets[regnum % kBuckets] = index;
    } else {
      entries_[previous].next = index;
    }
    ++l.count;
  }
  entries_[index].rule = rule;
  entries_[index].value = value;
  return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::get_register_rule(uint32_t regnum,
                                                                    dzcrash_dwarf_cfa_reg_rule_t* rule,
                                                                    machine_ptr* value) const {
  uint8_t previous = kEmpty;
  const uint8_t index = find(regnum, &previous);
  if (index == kEmpty) return false;
  *rule = entries_[index].rule;
  *value = entries_[index].value;
  return true;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::remove_register(uint32_t regnum) {
  uint8_t previous = kEmpty;
  const uint8_t index = find(regnum, &previous);
  if (index == kEmpty) return;
  level& l = levels_[level_];
  if (previous == kEmpty) {
    l.buckets[regnum % kBuckets] = entries_[index].next;
  } else {
    entries_[previous].next = entries_[index].next;
  }
  release(index);
  --l.count;
}

template <typename machine_ptr, typename machine_ptr_s>
uint8_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::get_register_count() const {
  return levels_[level_].count;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register(uint32_t regnum, machine_ptr offset) {
  levels_[level_].cfa = cfa_rule{CFA_TYPE_REGISTER, regnum, offset, 0, 0};
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register_signed(uint32_t regnum,
                                                                          machine_ptr_s offset) {
  levels_[level_].cfa = cfa_rule{CFA_TYPE_REGISTER_SIGNED, regnum, static_cast<machine_ptr>(offset), 0, 0};
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_expression(uint64_t address, uint64_t length) {
  levels_[level_].cfa = cfa_rule{CFA_TYPE_EXPRESSION, 0, 0, address, length};
}

template <typename machine_ptr, typename machine_ptr_s>
typename dwarf_cfa_state<machine_ptr, machine_ptr_s>::cfa_rule
dwarf_cfa_state<machine_ptr, machine_ptr_s>::get_cfa_rule() const {
  return levels_[level_].cfa;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::push_state() {
  if (level_ + 1 >= kMaxStates) return false;
  const uint8_t from = level_;
  ++level_;
  reset_level(level_);
  levels_[level_].cfa = levels_[from].cfa;
  for (uint8_t bucket = 0; bucket < kBuckets; ++bucket) {
    for (uint8_t i = levels_[from].buckets[bucket]; i != kEmpty; i = entries_[i].next) {
      if (!set_register(entries_[i].regnum, entries_[i].rule, entries_[i].value)) {
        pop_state();
        return false;
      }
    }
  }
  return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::pop_state() {
  if (level_ == 0) return false;
  level& l = levels_[level_];
  for (uint8_t bucket = 0; bucket < kBuckets; ++bucket) {
    uint8_t i = l.buckets[bucket];
    while (i != kEmpty) {
      const uint8_t next = entries_[i].next;
      release(i);
      i = next;
    }
  }
  --level_;
  return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state_iterator<machine_ptr, machine_ptr_s>::next(uint32_t* regnum,
                                                                dzcrash_dwarf_cfa_reg_rule_t* rule,
                                                                machine_ptr* value) {
  using state_t = dwarf_cfa_state<machine_ptr, machine_ptr_s>;
  const auto& level = state_->levels_[state_->level_];
  if (started_ && cursor_ != state_t::kEmpty) cursor_ = state_->entries_[cursor_].next;
  if (!started_) {
    started_ = true;
    cursor_ = level.buckets[0];
  }
  while (cursor_ == state_t::kEmpty) {
    if (++bucket_ >= state_t::kBuckets) return false;
    cursor_ = level.buckets[bucket_];
  }
  const auto& e = state_->entries_[cursor_];
  *regnum = e.regnum;
  *rule = e.rule;
  *value = e.value;
  return true;
}

namespace {

// Register operands: DWARF numbers that the rule table's 32-bit field can hold.
bool readRegister(dwarf_opstream* ops, uint32_t* regnum, dzcrash_error_t* err) {
  uint64_t value = 0;
  if (!ops->read_uleb128(&value)) {
    *err = DZCRASH_INVALID_ARGUMENT;
    return false;
  }
  if (value > UINT32_MAX) {
    *err = DZCRASH_NOT_SUPPORTED;
    return false;
  }
  *regnum = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

// async-signal-safe.
template <typename machine_ptr, typename machine_ptr_s>
dzcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::eval_program(
    dwarf_section* section, machine_ptr pc, machine_ptr initial_location,
    const dzcrash_async_dwarf_cie_info* cie, const gnu_ehptr_reader<machine_ptr>* reader,
    const dzcrash_async_byteorder_t* byteorder, uint64_t section_address, uint64_t offset, uint64_t length) {
  // The rules that restore opcodes return to: the CIE's results when this is an FDE's program.
  dwarf_cfa_state initial;
  {
    dwarf_cfa_state_iterator<machine_ptr, machine_ptr_s> it(this);
    uint32_t regnum = 0;
    dzcrash_dwarf_cfa_reg_rule_t rule;
    machine_ptr value = 0;
    while (it.next(&regnum, &rule, &value)) {
      if (!initial.set_register(regnum, rule, value)) return DZCRASH_NO_MEMORY;
    }
  }
  const gnu_ehptr_reader<machine_ptr> absolute(byteorder);
  const gnu_ehptr_reader<machine_ptr>* locReader = reader != nullptr ? reader : &absolute;
  const uint8_t locEncoding =
      reader != nullptr && cie->has_eh_augmentation && cie->eh_augmentation.has_pointer_encoding
          ? cie->eh_augmentation.pointer_encoding
          : static_cast<uint8_t>(DW_EH_PE_absptr);

  uint64_t start = 0;
  if (__builtin_add_overflow(section_address, offset, &start) || length > static_cast<uint64_t>(INT64_MAX)) {
    return DZCRASH_INVALID_ARGUMENT;
  }
  dwarf_opstream ops;
  dzcrash_error_t err = ops.init(section, byteorder, start, 0, static_cast<int64_t>(length));
  if (err != DZCRASH_OK) return err;

  const machine_ptr caf = static_cast<machine_ptr>(cie->code_alignment_factor);
  const int64_t daf = cie->data_alignment_factor;
  auto factored = [daf](uint64_t n) { return static_cast<machine_ptr>(n * static_cast<uint64_t>(daf)); };
  auto factoredSigned = [daf](int64_t n) {
    return static_cast<machine_ptr>(static_cast<uint64_t>(n) * static_cast<uint64_t>(daf));
  };
  // A restore: the register's initial rule, or none.
  auto restore = [&](uint32_t regnum) {
    dzcrash_dwarf_cfa_reg_rule_t rule;
    machine_ptr value = 0;
    if (initial.get_register_rule(regnum, &rule, &value)) return set_register(regnum, rule, value);
    remove_register(regnum);
    return true;
  };
  auto isRegisterCfa = [this]() {
    const cfa_type type = levels_[level_].cfa.type;
    return type == CFA_TYPE_REGISTER || type == CFA_TYPE_REGISTER_SIGNED;
  };

  machine_ptr location = initial_location;
  while (true) {
    if (pc != 0 && location > pc) return DZCRASH_OK;
    if (ops.at_end()) return DZCRASH_OK;
    uint8_t opcode = 0;
    if (!ops.read_intU(&opcode)) return DZCRASH_INVALID_ARGUMENT;
    const uint8_t low = opcode & 0x3F;
    uint32_t regnum = 0;
    uint64_t u = 0;
    int64_t s = 0;

    switch (opcode & 0xC0) {
      case DW_CFA_advance_loc:
        location = static_cast<machine_ptr>(location + low * caf);
        continue;
      case DW_CFA_offset:
        if (!ops.read_uleb128(&u)) return DZCRASH_INVALID_ARGUMENT;
        if (!set_register(low, DZCRASH_DWARF_CFA_REG_RULE_OFFSET, factored(u))) return DZCRASH_NO_MEMORY;
        continue;
      case DW_CFA_restore:
        if (!restore(low)) return DZCRASH_NO_MEMORY;
        continue;
      default:
        break;
    }

    switch (opcode) {
      case DW_CFA_nop:
        break;
      case DW_CFA_set_loc: {
        if (cie->segment_size != 0) return DZCRASH_NOT_SUPPORTED;
        machine_ptr target = 0;
        uint64_t size = 0;
        err = locReader->read(section, ops.position(), 0, locEncoding, &target, &size);
        if (err != DZCRASH_OK || !ops.skip(size)) return DZCRASH_INVALID_ARGUMENT;
        location = target;
        break;
      }
      case DW_CFA_advance_loc1: {
        uint8_t delta = 0;
        if (!ops.read_intU(&delta)) return DZCRASH_INVALID_ARGUMENT;
        location = static_cast<machine_ptr>(location + delta * caf);
        break;
      }
      case DW_CFA_advance_loc2: {
        uint16_t delta = 0;
        if (!ops.read_intU(&delta)) return DZCRASH_INVALID_ARGUMENT;
        location = static_cast<machine_ptr>(location + delta * caf);
        break;
      }
      case DW_CFA_advance_loc4: {
        uint32_t delta = 0;
        if (!ops.read_intU(&delta)) return DZCRASH_INVALID_ARGUMENT;
        location = static_cast<machine_ptr>(location + delta * caf);
        break;
      }
      case DW_CFA_offset_extended:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!ops.read_uleb128(&u)) return DZCRASH_INVALID_ARGUMENT;
        if (!set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_OFFSET, factored(u))) return DZCRASH_NO_MEMORY;
        break;
      case DW_CFA_restore_extended:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!restore(regnum)) return DZCRASH_NO_MEMORY;
        break;
      case DW_CFA_undefined:
        if (!readRegister(&ops, &regnum, &err)) return err;
        remove_register(regnum);
        break;
      case DW_CFA_same_value:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0)) return DZCRASH_NO_MEMORY;
        break;
      case DW_CFA_register: {
        uint32_t other = 0;
        if (!readRegister(&ops, &regnum, &err) || !readRegister(&ops, &other, &err)) return err;
        if (!set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_REGISTER, other)) return DZCRASH_NO_MEMORY;
        break;
      }
      case DW_CFA_remember_state:
        if (!push_state()) return DZCRASH_NO_MEMORY;
        break;
      case DW_CFA_restore_state:
        if (!pop_state()) return DZCRASH_INVALID_ARGUMENT;
        break;
      case DW_CFA_def_cfa:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!ops.read_uleb128(&u)) return DZCRASH_INVALID_ARGUMENT;
        set_cfa_register(regnum, static_cast<machine_ptr>(u));
        break;
      case DW_CFA_def_cfa_register: {
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!isRegisterCfa()) return DZCRASH_INVALID_ARGUMENT;
        levels_[level_].cfa.reg = regnum;
        break;
      }
      case DW_CFA_def_cfa_offset:
        if (!ops.read_uleb128(&u)) return DZCRASH_INVALID_ARGUMENT;
        if (!isRegisterCfa()) return DZCRASH_INVALID_ARGUMENT;
        set_cfa_register(levels_[level_].cfa.reg, static_cast<machine_ptr>(u));
        break;
      case DW_CFA_def_cfa_expression:
        if (!ops.read_uleb128(&u)) return DZCRASH_INVALID_ARGUMENT;
        set_cfa_expression(ops.position(), u);
        if (!ops.skip(u)) return DZCRASH_INVALID_ARGUMENT;
        break;
      case DW_CFA_expression:
      case DW_CFA_val_expression: {
        if (!readRegister(&ops, &regnum, &err)) return err;
        const uint64_t block = ops.position();
        if (!ops.read_uleb128(&u) || !ops.skip(u)) return DZCRASH_INVALID_ARGUMENT;
        const auto rule = opcode == DW_CFA_expression ? DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION
                                                      : DZCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION;
        if (!set_register(regnum, rule, static_cast<machine_ptr>(block))) return DZCRASH_NO_MEMORY;
        break;
      }
      case DW_CFA_offset_extended_sf:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!ops.read_sleb128(&s)) return DZCRASH_INVALID_ARGUMENT;
        if (!set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_OFFSET, factoredSigned(s))) {
          return DZCRASH_NO_MEMORY;
        }
        break;
      case DW_CFA_def_cfa_sf:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!ops.read_sleb128(&s)) return DZCRASH_INVALID_ARGUMENT;
        set_cfa_register_signed(regnum, static_cast<machine_ptr_s>(factoredSigned(s)));
        break;
      case DW_CFA_def_cfa_offset_sf:
        if (!ops.read_sleb128(&s)) return DZCRASH_INVALID_ARGUMENT;
        if (!isRegisterCfa()) return DZCRASH_INVALID_ARGUMENT;
        set_cfa_register_signed(levels_[level_].cfa.reg, static_cast<machine_ptr_s>(factoredSigned(s)));
        break;
      case DW_CFA_val_offset:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!ops.read_uleb128(&u)) return DZCRASH_INVALID_ARGUMENT;
        if (!set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, factored(u))) {
          return DZCRASH_NO_MEMORY;
        }
        break;
      case DW_CFA_val_offset_sf:
        if (!readRegister(&ops, &regnum, &err)) return err;
        if (!ops.read_sleb128(&s)) return DZCRASH_INVALID_ARGUMENT;
        if (!set_register(regnum, DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, factoredSigned(s))) {
          return DZCRASH_NO_MEMORY;
        }
        break;
      case DW_CFA_GNU_args_size:
        if (!ops.read_uleb128(&u)) return DZCRASH_INVALID_ARGUMENT;
        break;
      default:
        return DZCRASH_NOT_SUPPORTED;
    }
  }
}

namespace {

// Evaluates the expression block at `address` of the task (length given) with the evaluator of the
// state's register width. async-signal-safe.
dzcrash_error_t evalBlock(dzcrash_task_t task, const dzcrash_async_thread_state* state,
                          const dzcrash_async_byteorder_t* byteorder, uint64_t address, uint64_t length,
                          const uint64_t* initial, size_t initialCount, uint64_t* result) {
  dwarf_section block;
  dzcrash_error_t err = block.init(task, address, length);
  if (err != DZCRASH_OK) return err;
  if (DZcrash_async_thread_state_get_greg_size(state) == 8) {
    return dzcrash_async_dwarf_expression_eval<uint64_t, int64_t>(&block, task, state, byteorder, address, 0,
                                                                  length, initial, initialCount, result);
  }
  uint32_t initial32 = initialCount > 0 ? static_cast<uint32_t>(initial[0]) : 0;
  uint32_t result32 = 0;
  err = dzcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
      &block, task, state, byteorder, address, 0, length, &initial32, initialCount > 0 ? 1 : 0, &result32);
  *result = result32;
  return err;
}

// One general register of the state's size from the task. async-signal-safe.
dzcrash_error_t readWord(dzcrash_task_t task, const dzcrash_async_thread_state* state,
                         const dzcrash_async_byteorder_t* byteorder, uint64_t address, uint64_t* value) {
  if (DZcrash_async_thread_state_get_greg_size(state) == 8) {
    return DZcrash_async_task_read_uint64(task, byteorder, address, 0, value);
  }
  uint32_t v = 0;
  const dzcrash_error_t err = DZcrash_async_task_read_uint32(task, byteorder, address, 0, &v);
  *value = v;
  return err;
}

}  // namespace

// async-signal-safe.
template <typename machine_ptr, typename machine_ptr_s>
dzcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::apply_state(
    dzcrash_task_t task, const dzcrash_async_dwarf_cie_info* cie, const dzcrash_async_thread_state* current,
    const dzcrash_async_byteorder_t* byteorder, dzcrash_async_thread_state* next) {
  // 1. The caller keeps what callees must preserve.
  DZcrash_async_thread_state_copy(next, current);
  DZcrash_async_thread_state_clear_volatile_regs(next);

  // 2. The CFA, which is the caller's stack pointer.
  const cfa_rule& rule = levels_[level_].cfa;
  machine_ptr cfa = 0;
  dzcrash_error_t err = DZCRASH_OK;
  switch (rule.type) {
    case CFA_TYPE_REGISTER:
    case CFA_TYPE_REGISTER_SIGNED: {
      uint32_t regnum = 0;
      if (!DZcrash_async_thread_state_map_dwarf_to_reg(current, rule.reg, &regnum)) {
        return DZCRASH_NOT_SUPPORTED;
      }
      if (!DZcrash_async_thread_state_has_reg(current, regnum)) return DZCRASH_NOT_FOUND;
      cfa = static_cast<machine_ptr>(
          static_cast<machine_ptr>(DZcrash_async_thread_state_get_reg(current, regnum)) + rule.offset);
      break;
    }
    case CFA_TYPE_EXPRESSION: {
      uint64_t value = 0;
      if ((err = evalBlock(task, current, byteorder, rule.expression_address, rule.expression_length, nullptr,
                           0, &value)) != DZCRASH_OK) {
        return err;
      }
      cfa = static_cast<machine_ptr>(value);
      break;
    }
    default:
      return DZCRASH_INVALID_ARGUMENT;
  }
  DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_SP, cfa);

  // 3. Every register with a rule.
  const uint64_t returnAddressColumn = cie->return_address_register;
  dwarf_cfa_state_iterator<machine_ptr, machine_ptr_s> it(this);
  uint32_t dwarfReg = 0;
  dzcrash_dwarf_cfa_reg_rule_t regRule;
  machine_ptr ruleValue = 0;
  while (it.next(&dwarfReg, &regRule, &ruleValue)) {
    uint32_t regnum = 0;
    if (!DZcrash_async_thread_state_map_dwarf_to_reg(current, dwarfReg, &regnum)) {
      // The return-address column names the instruction pointer where no register has its number.
      if (dwarfReg != returnAddressColumn) return DZCRASH_INVALID_ARGUMENT;
      regnum = DZCRASH_REG_IP;
    }
    uint64_t value = 0;
    switch (regRule) {
      case DZCRASH_DWARF_CFA_REG_RULE_OFFSET:
        if ((err = readWord(task, current, byteorder, static_cast<machine_ptr>(cfa + ruleValue), &value)) !=
            DZCRASH_OK) {
          return err;
        }
        break;
      case DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET:
        value = static_cast<machine_ptr>(cfa + ruleValue);
        break;
      case DZCRASH_DWARF_CFA_REG_RULE_REGISTER: {
        uint32_t source = 0;
        if (!DZcrash_async_thread_state_map_dwarf_to_reg(current, ruleValue, &source)) {
          return DZCRASH_INVALID_ARGUMENT;
        }
        if (!DZcrash_async_thread_state_has_reg(current, source)) return DZCRASH_NOT_FOUND;
        value = DZcrash_async_thread_state_get_reg(current, source);
        break;
      }
      case DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION:
      case DZCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
        uint64_t length = 0;
        uint64_t size = 0;
        if ((err = dzcrash_async_dwarf_read_task_uleb128(task, ruleValue, 0, &length, &size)) != DZCRASH_OK) {
          return err;
        }
        const uint64_t initial = cfa;
        if ((err = evalBlock(task, current, byteorder, static_cast<uint64_t>(ruleValue) + size, length,
                             &initial, 1, &value)) != DZCRASH_OK) {
          return err;
        }
        if (regRule == DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION &&
            (err = readWord(task, current, byteorder, value, &value)) != DZCRASH_OK) {
          return err;
        }
        break;
      }
      case DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE:
        if (!DZcrash_async_thread_state_has_reg(current, regnum)) return DZCRASH_NOT_FOUND;
        value = DZcrash_async_thread_state_get_reg(current, regnum);
        break;
      default:
        return DZCRASH_INVALID_ARGUMENT;
    }
    DZcrash_async_thread_state_set_reg(next, regnum, value);
    if (dwarfReg == returnAddressColumn && regnum != DZCRASH_REG_IP) {
      DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_IP, value);
    }
  }

  // 4. Without a rule for the return address, it is still in the register that holds it.
  if (DZcrash_async_thread_state_has_reg(next, DZCRASH_REG_IP)) return DZCRASH_OK;
  uint32_t returnRegister = 0;
  if (returnAddressColumn <= UINT32_MAX &&
      DZcrash_async_thread_state_map_dwarf_to_reg(current, returnAddressColumn, &returnRegister) &&
      DZcrash_async_thread_state_has_reg(current, returnRegister)) {
    DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_IP,
                                       DZcrash_async_thread_state_get_reg(current, returnRegister));
    return DZCRASH_OK;
  }
  return DZCRASH_INVALID_ARGUMENT;
}

template class dwarf_cfa_state<uint32_t, int32_t>;
template class dwarf_cfa_state<uint64_t, int64_t>;
template class dwarf_cfa_state_iterator<uint32_t, int32_t>;
template class dwarf_cfa_state_iterator<uint64_t, int64_t>;

}  // namespace dzcrash::async
