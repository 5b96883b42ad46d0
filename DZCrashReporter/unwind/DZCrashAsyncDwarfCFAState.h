#pragma once

// The table of call-frame rules: running a CIE's and an FDE's programs up to an address builds one row
// (the CFA rule and a rule per register), and applying that row to a frame's registers gives its
// caller's. The table is a fixed-size structure that lives on the caller's stack: a pool of 100 rule
// entries shared by six levels of remember_state, each level hashing registers into 14 buckets.
//
// Instantiated for 32-bit images (uint32_t / int32_t) and 64-bit images (uint64_t / int64_t); the word
// type is the width of CFA values, rule values and program locations. Every routine is
// async-signal-safe: no heap, no locks.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCIE.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfEncoding.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfSection.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

namespace dzcrash::async {

enum dzcrash_dwarf_cfa : uint8_t {
  DW_CFA_nop = 0x00,
  DW_CFA_set_loc = 0x01,
  DW_CFA_advance_loc1 = 0x02,
  DW_CFA_advance_loc2 = 0x03,
  DW_CFA_advance_loc4 = 0x04,
  DW_CFA_offset_extended = 0x05,
  DW_CFA_restore_extended = 0x06,
  DW_CFA_undefined = 0x07,
  DW_CFA_same_value = 0x08,
  DW_CFA_register = 0x09,
  DW_CFA_remember_state = 0x0A,
  DW_CFA_restore_state = 0x0B,
  DW_CFA_def_cfa = 0x0C,
  DW_CFA_def_cfa_register = 0x0D,
  DW_CFA_def_cfa_offset = 0x0E,
  DW_CFA_def_cfa_expression = 0x0F,
  DW_CFA_expression = 0x10,
  DW_CFA_offset_extended_sf = 0x11,
  DW_CFA_def_cfa_sf = 0x12,
  DW_CFA_def_cfa_offset_sf = 0x13,
  DW_CFA_val_offset = 0x14,
  DW_CFA_val_offset_sf = 0x15,
  DW_CFA_val_expression = 0x16,
  DW_CFA_GNU_args_size = 0x2E,
  // The high two bits carry these three; the low six their operand.
  DW_CFA_advance_loc = 0x40,
  DW_CFA_offset = 0x80,
  DW_CFA_restore = 0xC0,
};

// How a register of the caller is found. A register without a rule is undefined.
enum dzcrash_dwarf_cfa_reg_rule_t : uint8_t {
  // Saved at CFA + N.
  DZCRASH_DWARF_CFA_REG_RULE_OFFSET = 0,
  // Its value is CFA + N.
  DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET = 1,
  // In register R.
  DZCRASH_DWARF_CFA_REG_RULE_REGISTER = 2,
  // Saved at the address an expression computes; the value is the task address of the expression's
  // ULEB128 length, which the expression follows.
  DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION = 3,
  // Its value is what an expression computes (value as for EXPRESSION).
  DZCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION = 4,
  // Unchanged from the callee.
  DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE = 5,
};

template <typename machine_ptr, typename machine_ptr_s>
class dwarf_cfa_state {
 public:
  static constexpr uint8_t kMaxRegisters = 100;
  static constexpr uint8_t kMaxStates = 6;
  static constexpr uint8_t kBuckets = 14;
  static constexpr uint8_t kEmpty = 255;

  enum cfa_type : uint8_t {
    CFA_TYPE_UNDEFINED = 0,
    CFA_TYPE_EXPRESSION = 1,
    CFA_TYPE_REGISTER = 2,
    CFA_TYPE_REGISTER_SIGNED = 3,
  };

  struct cfa_rule {
    cfa_type type;
    // CFA_TYPE_REGISTER(_SIGNED).
    uint32_t reg;
    machine_ptr offset;
    // CFA_TYPE_EXPRESSION: the task address of the expression's first byte and its length.
    uint64_t expression_address;
    uint64_t expression_length;
  };

  // Level 0, no rules, the CFA rule undefined, every entry free.
  dwarf_cfa_state();

  // Replaces the register's rule at the current level or adds one; false when the pool is empty.
  bool set_register(uint32_t regnum, dzcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value);
  bool get_register_rule(uint32_t regnum, dzcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value) const;
  // Drops the register's rule at the current level; nothing when it has none.
  void remove_register(uint32_t regnum);
  uint8_t get_register_count() const;

  void set_cfa_register(uint32_t regnum, machine_ptr offset);
  void set_cfa_register_signed(uint32_t regnum, machine_ptr_s offset);
  void set_cfa_expression(uint64_t address, uint64_t length);
  cfa_rule get_cfa_rule() const;

  // A new level that starts as a copy of the current one; false at the sixth level or when the pool
  // cannot hold the copies (the state is then unchanged).
  bool push_state();
  // Back to the level below, freeing the top level's entries; false at level 0.
  bool pop_state();

  // Runs the call-frame program at [section_address + offset, + length) of the section, starting at
  // location initial_location, until the location passes pc (pc 0: the whole program). set_loc
  // operands use the CIE's 'R' encoding when a reader is given, else absolute words.
  // DZCRASH_INVALID_ARGUMENT for truncated operands and blocks, for def_cfa_register/_offset on a CFA
  // that is not a register rule and for a restore_state without a remember_state;
  // DZCRASH_NO_MEMORY when the rules outgrow the pool or six levels; DZCRASH_NOT_SUPPORTED for unknown
  // opcodes and register numbers above 32 bits. DW_CFA_GNU_args_size is read and ignored: it describes
  // outgoing arguments, never the CFA.
  dzcrash_error_t eval_program(dwarf_section* section, machine_ptr pc, machine_ptr initial_location,
                               const dzcrash_async_dwarf_cie_info* cie,
                               const gnu_ehptr_reader<machine_ptr>* reader,
                               const dzcrash_async_byteorder_t* byteorder, uint64_t section_address,
                               uint64_t offset, uint64_t length);

  // The caller's registers from the current level's rules and `current` (see the .cpp for the order of
  // the steps). DZCRASH_INVALID_ARGUMENT for an undefined CFA, registers the processor cannot name and
  // a caller without an instruction pointer; DZCRASH_NOT_SUPPORTED and DZCRASH_NOT_FOUND for a CFA
  // register without a mapping or a value; read and expression errors as they are.
  dzcrash_error_t apply_state(dzcrash_task_t task, const dzcrash_async_dwarf_cie_info* cie,
                              const dzcrash_async_thread_state* current,
                              const dzcrash_async_byteorder_t* byteorder, dzcrash_async_thread_state* next);

 private:
  template <typename, typename>
  friend class dwarf_cfa_state_iterator;

  struct entry {
    machine_ptr value;
    uint32_t regnum;
    dzcrash_dwarf_cfa_reg_rule_t rule;
    uint8_t next;
  };
  struct level {
    uint8_t buckets[kBuckets];
    uint8_t count;
    cfa_rule cfa;
  };

  uint8_t allocate();
  void release(uint8_t index);
  // The entry index of the register at the current level, or kEmpty; previous gets its predecessor in
  // the bucket chain (kEmpty for the head).
  uint8_t find(uint32_t regnum, uint8_t* previous) const;
  void reset_level(uint8_t levelIndex);

  entry entries_[kMaxRegisters];
  level levels_[kMaxStates];
  uint8_t level_ = 0;
  // Freed entries, then the ones never used (from unused_ up), in that order of preference.
  uint8_t free_head_ = kEmpty;
  uint8_t unused_ = 0;
};

// Visits the current level's rules bucket by bucket, each bucket in chain order.
template <typename machine_ptr, typename machine_ptr_s>
class dwarf_cfa_state_iterator {
 public:
  explicit dwarf_cfa_state_iterator(const dwarf_cfa_state<machine_ptr, machine_ptr_s>* state)
      : state_(state) {}
  bool next(uint32_t* regnum, dzcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value);

 private:
  const dwarf_cfa_state<machine_ptr, machine_ptr_s>* state_;
  uint8_t bucket_ = 0;
  uint8_t cursor_ = dwarf_cfa_state<machine_ptr, machine_ptr_s>::kEmpty;
  bool started_ = false;
};

}  // namespace dzcrash::async
