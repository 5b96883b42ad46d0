#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCFAState.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfExpression.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"
#include "tests/DZCrashReporter/DwarfBytes.h"

using namespace dzcrash;
using namespace dzcrash::async;
using dzcrash::test::DwarfBytes;
using dzcrash::test::le;
using dzcrash::test::Memory;

namespace {

constexpr uint64_t kProgram = 0x10000;
constexpr uint64_t kStack = 0x7000;
constexpr uint64_t kFunction = 0x400000;

using State = dwarf_cfa_state<uint64_t, int64_t>;

// x86-64 CIE values: code alignment 1, data alignment -8, return address column 16.
dzcrash_async_dwarf_cie_info x86Cie() {
  dzcrash_async_dwarf_cie_info cie{};
  cie.cie_version = 1;
  cie.code_alignment_factor = 1;
  cie.data_alignment_factor = -8;
  cie.return_address_register = 16;
  return cie;
}

// Runs a program placed at kProgram from location kFunction up to pc.
dzcrash_error_t run(State* state, const std::vector<uint8_t>& program, uint64_t pc,
                    const dzcrash_async_dwarf_cie_info& cie = x86Cie()) {
  Memory memory;
  memory.place(kProgram, program);
  dwarf_section section;
  EXPECT_EQ(section.init(memory.task(), kProgram, program.size()), DZCRASH_OK);
  return state->eval_program(&section, pc, kFunction, &cie, nullptr, le(), kProgram, 0, program.size());
}

std::map<uint32_t, std::pair<int, int64_t>> rules(const State& state) {
  std::map<uint32_t, std::pair<int, int64_t>> out;
  dwarf_cfa_state_iterator<uint64_t, int64_t> it(&state);
  uint32_t reg = 0;
  dzcrash_dwarf_cfa_reg_rule_t rule;
  uint64_t value = 0;
  while (it.next(&reg, &rule, &value)) out[reg] = {rule, static_cast<int64_t>(value)};
  return out;
}

dzcrash_async_thread_state x86_64State(std::initializer_list<std::pair<uint32_t, uint64_t>> regs) {
  dzcrash_async_thread_state s;
  DZcrash_async_thread_state_init(&s, DZCRASH_CPU_TYPE_X86_64);
  for (const auto& [reg, value] : regs) DZcrash_async_thread_state_set_reg(&s, reg, value);
  return s;
}

}  // namespace

TEST(DwarfExpression, OperationsAndTheirFailures) {
  // A word at 0x9000 for the memory operations.
  Memory memory;
  memory.place(0x9000, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
  const dzcrash_async_thread_state state =
      x86_64State({{DZCRASH_X86_64_RSP, 0x1000}, {DZCRASH_X86_64_RIP, 0x401234}});
  struct Case {
    const char* name;
    std::vector<uint8_t> ops;
    dzcrash_error_t result;
    uint64_t value;
  };
  std::vector<uint8_t> pushes(101, 0x30);
  std::vector<uint8_t> fullStack(100, 0x31);
  const std::vector<Case> cases = {
      {"lit5 lit3 minus", {0x35, 0x33, 0x1C}, DZCRASH_OK, 2},
      {"lit1 lit0 div", {0x31, 0x30, 0x1B}, DZCRASH_INVALID_ARGUMENT, 0},
      {"lit1 lit0 mod", {0x31, 0x30, 0x1D}, DZCRASH_INVALID_ARGUMENT, 0},
      {"signed div", {0x11, 0x79, 0x32, 0x1B}, DZCRASH_OK, static_cast<uint64_t>(-3)},  // -7 / 2
      {"INT64_MIN div -1 wraps",
       {0x0E, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x11, 0x7F, 0x1B},
       DZCRASH_OK,
       static_cast<uint64_t>(INT64_MIN)},
      {"100 pushes fit", fullStack, DZCRASH_OK, 1},
      {"101 pushes", pushes, DZCRASH_INTERNAL, 0},
      {"deref reads the task", {0x0C, 0x00, 0x90, 0x00, 0x00, 0x06}, DZCRASH_OK, 0x1122334455667788},
      {"deref_size 2 zero-extends", {0x0C, 0x00, 0x90, 0x00, 0x00, 0x94, 0x02}, DZCRASH_OK, 0x7788},
      {"deref_size 3", {0x0C, 0x00, 0x90, 0x00, 0x00, 0x94, 0x03}, DZCRASH_INVALID_ARGUMENT, 0},
      {"xderef ignores the address space",
       {0x37, 0x0C, 0x00, 0x90, 0x00, 0x00, 0x18},
       DZCRASH_OK,
       0x1122334455667788},
      {"deref of unmapped memory", {0x0C, 0x00, 0xA0, 0x00, 0x00, 0x06}, DZCRASH_NOT_FOUND, 0},
      {"deref of an empty stack", {0x06}, DZCRASH_INTERNAL, 0},
      {"xderef with one entry", {0x31, 0x18}, DZCRASH_INVALID_ARGUMENT, 0},
      {"const1s", {0x09, 0xFF}, DZCRASH_OK, UINT64_MAX},
      {"const2u", {0x0A, 0xFF, 0xFF}, DZCRASH_OK, 0xFFFF},
      {"const4s", {0x0D, 0xFE, 0xFF, 0xFF, 0xFF}, DZCRASH_OK, static_cast<uint64_t>(-2)},
      {"constu", {0x10, 0xE5, 0x8E, 0x26}, DZCRASH_OK, 624485},
      {"breg7 rsp+16", {0x77, 0x10}, DZCRASH_OK, 0x1010},
      {"bregx 7 -16", {0x92, 0x07, 0x70}, DZCRASH_OK, 0xFF0},
      {"breg16 reads the instruction pointer", {0x80, 0x00}, DZCRASH_OK, 0x401234},
      {"breg17 has no register", {0x81, 0x00}, DZCRASH_NOT_SUPPORTED, 0},
      {"breg0 of a register the state lacks", {0x70, 0x00}, DZCRASH_NOT_FOUND, 0},
      {"dup", {0x34, 0x12, 0x22}, DZCRASH_OK, 8},
      {"over", {0x31, 0x32, 0x14}, DZCRASH_OK, 1},
      {"pick", {0x35, 0x36, 0x37, 0x15, 0x02}, DZCRASH_OK, 5},
      {"swap", {0x31, 0x32, 0x16, 0x1C}, DZCRASH_OK, 1},
      {"rot moves the top to third place", {0x31, 0x32, 0x33, 0x17, 0x13, 0x13}, DZCRASH_OK, 3},
      {"dup of an empty stack", {0x12}, DZCRASH_INVALID_ARGUMENT, 0},
      {"drop of an empty stack", {0x13}, DZCRASH_INVALID_ARGUMENT, 0},
      {"swap with one entry", {0x31, 0x16}, DZCRASH_INVALID_ARGUMENT, 0},
      {"rot with two entries", {0x31, 0x32, 0x17}, DZCRASH_INVALID_ARGUMENT, 0},
      {"pick past the bottom", {0x31, 0x15, 0x01}, DZCRASH_INVALID_ARGUMENT, 0},
      {"abs neg", {0x11, 0x7D, 0x19, 0x1F}, DZCRASH_OK, static_cast<uint64_t>(-3)},
      {"not", {0x30, 0x20}, DZCRASH_OK, UINT64_MAX},
      {"neg of an empty stack", {0x1F}, DZCRASH_INTERNAL, 0},
      {"plus of one entry", {0x31, 0x22}, DZCRASH_INTERNAL, 0},
      {"and or xor", {0x3F, 0x35, 0x1A, 0x38, 0x21, 0x33, 0x27}, DZCRASH_OK, 14},
      {"mul plus_uconst", {0x36, 0x37, 0x1E, 0x23, 0x80, 0x01}, DZCRASH_OK, 170},
      {"shl by 65 is shl by 1", {0x33, 0x08, 0x41, 0x24}, DZCRASH_OK, 6},
      {"shr is logical", {0x11, 0x7F, 0x3C, 0x25}, DZCRASH_OK, UINT64_MAX >> 12},
      {"shra is arithmetic", {0x11, 0x70, 0x32, 0x26}, DZCRASH_OK, static_cast<uint64_t>(-4)},
      {"comparisons are signed", {0x11, 0x7F, 0x30, 0x2D}, DZCRASH_OK, 1},  // -1 < 0
      {"ge", {0x32, 0x32, 0x2A}, DZCRASH_OK, 1},
      {"ne", {0x32, 0x32, 0x2E}, DZCRASH_OK, 0},
      {"skip over a push", {0x2F, 0x01, 0x00, 0x39, 0x34}, DZCRASH_OK, 4},
      {"bra taken", {0x31, 0x28, 0x01, 0x00, 0x39, 0x34}, DZCRASH_OK, 4},
      {"bra not taken", {0x34, 0x30, 0x28, 0x01, 0x00, 0x39}, DZCRASH_OK, 9},
      {"skip to the block's end", {0x34, 0x2F, 0x00, 0x00}, DZCRASH_OK, 4},
      {"skip out of the block", {0x2F, 0x05, 0x00, 0x30}, DZCRASH_INVALID_ARGUMENT, 0},
      {"bra back before the block", {0x31, 0x28, 0xF0, 0xFF}, DZCRASH_INVALID_ARGUMENT, 0},
      {"bra of an empty stack", {0x28, 0x00, 0x00}, DZCRASH_INTERNAL, 0},
      {"a loop that never ends", {0x2F, 0xFD, 0xFF}, DZCRASH_INVALID_ARGUMENT, 0},
      {"truncated operand", {0x0C, 0x01, 0x02}, DZCRASH_INVALID_ARGUMENT, 0},
      {"nop", {0x96, 0x33}, DZCRASH_OK, 3},
      {"empty expression", {}, DZCRASH_INVALID_ARGUMENT, 0},
      {"reg0 names a location, not a value", {0x50}, DZCRASH_NOT_SUPPORTED, 0},
      {"fbreg", {0x91, 0x00}, DZCRASH_NOT_SUPPORTED, 0},
  };
  for (const Case& c : cases) {
    Memory block = memory;
    block.place(kProgram, c.ops);
    dwarf_section section;
    ASSERT_EQ(section.init(block.task(), kProgram, c.ops.size()), DZCRASH_OK);
    uint64_t result = 0;
    const dzcrash_error_t err = dzcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
        &section, block.task(), &state, le(), kProgram, 0, c.ops.size(), nullptr, 0, &result);
    EXPECT_EQ(err, c.result) << c.name;
    if (c.result == DZCRASH_OK) {
      EXPECT_EQ(result, c.value) << c.name;
    }
  }

  // Initial values sit below the expression's own; more than the stack holds is refused.
  Memory block;
  block.place(kProgram, {0x22});
  dwarf_section section;
  ASSERT_EQ(section.init(block.task(), kProgram, 1), DZCRASH_OK);
  const uint64_t initial[] = {40, 2};
  uint64_t result = 0;
  auto eval64 = [&](const uint64_t* values, size_t count) {
    return dzcrash_async_dwarf_expression_eval<uint64_t, int64_t>(&section, block.task(), &state, le(),
                                                                  kProgram, 0, 1, values, count, &result);
  };
  ASSERT_EQ(eval64(initial, 2), DZCRASH_OK);
  EXPECT_EQ(result, 42u);
  std::vector<uint64_t> tooMany(101, 1);
  EXPECT_EQ(eval64(tooMany.data(), tooMany.size()), DZCRASH_INTERNAL);

  // The 32-bit evaluator works in 32-bit words.
  Memory narrow;
  narrow.place(kProgram, {0x30, 0x31, 0x1C, 0x08, 0x21, 0x24});  // (0 - 1) << 33 in 32 bits
  ASSERT_EQ(section.init(narrow.task(), kProgram, 6), DZCRASH_OK);
  uint32_t result32 = 1;
  auto eval32 = [&](uint64_t length) {
    return dzcrash_async_dwarf_expression_eval<uint32_t, int32_t>(&section, narrow.task(), &state, le(),
                                                                  kProgram, 0, length, nullptr, 0, &result32);
  };
  ASSERT_EQ(eval32(3), DZCRASH_OK);
  EXPECT_EQ(result32, 0xFFFFFFFFu);
  ASSERT_EQ(eval32(6), DZCRASH_OK);
  EXPECT_EQ(result32, 0u);
}

TEST(DwarfCfaState, RulesLevelsAndThePool) {
  State state;
  EXPECT_EQ(state.get_cfa_rule().type, State::CFA_TYPE_UNDEFINED);
  // Registers 1 and 15 share a bucket; the iterator visits buckets in order, a bucket in insertion order.
  ASSERT_TRUE(state.set_register(15, DZCRASH_DWARF_CFA_REG_RULE_OFFSET, 8));
  ASSERT_TRUE(state.set_register(1, DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0));
  ASSERT_TRUE(state.set_register(0, DZCRASH_DWARF_CFA_REG_RULE_REGISTER, 3));
  ASSERT_TRUE(state.set_register(15, DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, 16));
  EXPECT_EQ(state.get_register_count(), 3);
  std::vector<uint32_t> order;
  dwarf_cfa_state_iterator<uint64_t, int64_t> it(&state);
  uint32_t reg = 0;
  dzcrash_dwarf_cfa_reg_rule_t rule;
  uint64_t value = 0;
  while (it.next(&reg, &rule, &value)) order.push_back(reg);
  EXPECT_EQ(order, (std::vector<uint32_t>{0, 15, 1}));
  ASSERT_TRUE(state.get_register_rule(15, &rule, &value));
  EXPECT_EQ(rule, DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET);
  EXPECT_EQ(value, 16u);

  // push copies the level; pop returns its entries to the pool.
  state.set_cfa_register(7, 8);
  ASSERT_TRUE(state.push_state());
  state.remove_register(15);
  state.set_cfa_register_signed(6, -16);
  EXPECT_EQ(state.get_register_count(), 2);
  ASSERT_TRUE(state.pop_state());
  EXPECT_EQ(state.get_register_count(), 3);
  EXPECT_EQ(state.get_cfa_rule().type, State::CFA_TYPE_REGISTER);
  EXPECT_EQ(state.get_cfa_rule().reg, 7u);
  EXPECT_FALSE(state.pop_state()) << "level 0";
  state.remove_register(99);  // absent: nothing happens
  EXPECT_EQ(state.get_register_count(), 3);

  // 100 entries in all: 97 more fit, the 101st does not; a level that cannot be copied is not made.
  for (uint32_t r = 100; r < 197; ++r) {
    ASSERT_TRUE(state.set_register(r, DZCRASH_DWARF_CFA_REG_RULE_OFFSET, r));
  }
  EXPECT_FALSE(state.set_register(500, DZCRASH_DWARF_CFA_REG_RULE_OFFSET, 0));
  EXPECT_FALSE(state.push_state());
  EXPECT_EQ(state.get_register_count(), 100);
  state.remove_register(150);
  EXPECT_TRUE(state.set_register(500, DZCRASH_DWARF_CFA_REG_RULE_OFFSET, 0)) << "a freed entry is reused";
}

TEST(DwarfCfaState, Programs) {
  const std::vector<uint8_t> base = {0x0C, 0x07, 0x08, 0x90, 0x01};  // def_cfa rsp+8; rip at CFA-8
  struct Case {
    const char* name;
    std::vector<uint8_t> program;
    uint64_t pc;
    dzcrash_error_t result;
    // After a successful run: the CFA register and offset, and the rules of rbx (3) and rbp (6)
    // (-1: none).
    uint32_t cfaReg;
    int64_t cfaOffset;
    int64_t rbx;
    int64_t rbp;
  };
  auto with = [&base](std::vector<uint8_t> tail) {
    std::vector<uint8_t> p = base;
    p.insert(p.end(), tail.begin(), tail.end());
    return p;
  };
  std::vector<uint8_t> manyRules;
  for (uint32_t r = 0; r < 101; ++r) {
    manyRules.insert(manyRules.end(), {0x05, static_cast<uint8_t>(r | 0x80), 0x01, 0x01});
  }
  std::vector<uint8_t> hundredRules(manyRules.begin(), manyRules.end() - 4);
  std::vector<uint8_t> sixRemembers(6, 0x0A);
  const std::vector<Case> cases = {
      // push rbx (1 byte); then at +1: cfa 16, rbx at CFA-16; +4: remember, cfa 32; +2: restore_state.
      {"at the function's start only the rows before the first advance", with({0x41, 0x0E, 0x10, 0x83, 0x02}),
       kFunction, DZCRASH_OK, 7, 8, -1, -1},
      {"one byte in", with({0x41, 0x0E, 0x10, 0x83, 0x02}), kFunction + 1, DZCRASH_OK, 7, 16, -16, -1},
      {"target 0 runs the whole program", with({0x41, 0x0E, 0x10, 0x83, 0x02, 0x50, 0x0E, 0x08}), 0,
       DZCRASH_OK, 7, 8, -16, -1},
      {"between remember_state and restore_state", with({0x83, 0x02, 0x0A, 0x0E, 0x20, 0x42, 0x0B}),
       kFunction + 1, DZCRASH_OK, 7, 32, -16, -1},
      {"restore_state brings the CFA back", with({0x83, 0x02, 0x0A, 0x0E, 0x20, 0x42, 0x0B}), kFunction + 2,
       DZCRASH_OK, 7, 8, -16, -1},
      {"restore returns to no rule", with({0x83, 0x02, 0xC3}), 0, DZCRASH_OK, 7, 8, -1, -1},
      {"restore_extended drops only its register", with({0x83, 0x02, 0x86, 0x03, 0x06, 0x03}), 0, DZCRASH_OK,
       7, 8, -1, -24},
      {"undefined", with({0x83, 0x02, 0x07, 0x03}), 0, DZCRASH_OK, 7, 8, -1, -1},
      {"def_cfa_sf and offset_extended_sf", with({0x12, 0x06, 0x7E, 0x11, 0x03, 0x7D}), 0, DZCRASH_OK, 6, 16,
       24, -1},
      {"def_cfa_register keeps the offset", with({0x0D, 0x06}), 0, DZCRASH_OK, 6, 8, -1, -1},
      {"advance_loc1/2/4", with({0x02, 0x01, 0x03, 0x01, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00, 0x0E, 0x30}),
       kFunction + 2, DZCRASH_OK, 7, 8, -1, -1},
      {"GNU_args_size is read and ignored", with({0x2E, 0x10, 0x0E, 0x18}), 0, DZCRASH_OK, 7, 24, -1, -1},
      {"a sixth remember_state", with(sixRemembers), 0, DZCRASH_NO_MEMORY, 0, 0, 0, 0},
      {"restore_state at level 0", with({0x0B}), 0, DZCRASH_INVALID_ARGUMENT, 0, 0, 0, 0},
      {"100 rules", hundredRules, 0, DZCRASH_OK, 0, 0, -1, -1},
      {"101 rules", manyRules, 0, DZCRASH_NO_MEMORY, 0, 0, 0, 0},
      {"def_cfa_offset without a register rule", {0x0E, 0x10}, 0, DZCRASH_INVALID_ARGUMENT, 0, 0, 0, 0},
      {"def_cfa_register on an expression",
       {0x0F, 0x01, 0x30, 0x0D, 0x06},
       0,
       DZCRASH_INVALID_ARGUMENT,
       0,
       0,
       0,
       0},
      {"a register number beyond 32 bits",
       {0x07, 0x80, 0x80, 0x80, 0x80, 0x10},
       0,
       DZCRASH_NOT_SUPPORTED,
       0,
       0,
       0,
       0},
      {"an unknown opcode", with({0x2D}), 0, DZCRASH_NOT_SUPPORTED, 0, 0, 0, 0},
      {"a truncated operand", with({0x83}), 0, DZCRASH_INVALID_ARGUMENT, 0, 0, 0, 0},
      {"a block past the end", with({0x10, 0x03, 0x05, 0x77}), 0, DZCRASH_INVALID_ARGUMENT, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    State state;
    EXPECT_EQ(run(&state, c.program, c.pc), c.result) << c.name;
    if (c.result != DZCRASH_OK || c.cfaReg == 0) continue;
    const auto r = rules(state);
    EXPECT_EQ(state.get_cfa_rule().reg, c.cfaReg) << c.name;
    EXPECT_EQ(static_cast<int64_t>(state.get_cfa_rule().offset), c.cfaOffset) << c.name;
    EXPECT_EQ(r.count(3) ? r.at(3).second : -1, c.rbx) << c.name;
    EXPECT_EQ(r.count(6) ? r.at(6).second : -1, c.rbp) << c.name;
    EXPECT_EQ(r.count(16) ? r.at(16).second : 0, -8) << c.name << ": the return address rule stays";
  }

  // An FDE's restore goes back to the CIE's rule.
  State state;
  ASSERT_EQ(run(&state, {0x0C, 0x07, 0x08, 0x83, 0x01}, 0), DZCRASH_OK);
  ASSERT_EQ(run(&state, {0x83, 0x04, 0xC3}, 0), DZCRASH_OK);
  EXPECT_EQ(rules(state).at(3).second, -8);
}

TEST(DwarfCfaState, ApplyingTheRules) {
  // The callee's frame: CFA = rsp + 16, the return address at CFA-8, rbx at CFA-16.
  constexpr uint64_t kSp = kStack + 0x20;
  std::vector<uint64_t> words(16, 0);
  words[(kSp + 0) / 8 - kStack / 8] = 0xB0B0;    // CFA-16: saved rbx
  words[(kSp + 8) / 8 - kStack / 8] = 0x401000;  // CFA-8: return address
  words[(kSp + 16) / 8 - kStack / 8] = 0x5EED;   // CFA: something the expression rules dereference
  std::vector<uint8_t> stack(words.size() * 8);
  std::memcpy(stack.data(), words.data(), stack.size());

  struct Case {
    const char* name;
    std::vector<uint8_t> program;
    dzcrash_error_t result;
    // Checked when the result is OK.
    uint64_t ip;
    uint64_t sp;
    uint64_t rbx;
  };
  const std::vector<Case> cases = {
      {"offsets", {0x0C, 0x07, 0x10, 0x90, 0x01, 0x83, 0x02}, DZCRASH_OK, 0x401000, kSp + 16, 0xB0B0},
      {"the return-address column sets the next instruction pointer",
       {0x0C, 0x07, 0x10, 0x14, 0x10, 0x00},
       DZCRASH_OK,
       kSp + 16,
       kSp + 16,
       0xBB},
      {"DWARF 17 names no register",
       {0x0C, 0x07, 0x10, 0x90, 0x01, 0x91, 0x01},
       DZCRASH_INVALID_ARGUMENT,
       0,
       0,
       0},
      {"no rule for the return address", {0x0C, 0x07, 0x10}, DZCRASH_INVALID_ARGUMENT, 0, 0, 0},
      {"an undefined CFA", {0x90, 0x01}, DZCRASH_INVALID_ARGUMENT, 0, 0, 0},
      {"a CFA register the state lacks", {0x0C, 0x02, 0x10, 0x90, 0x01}, DZCRASH_NOT_FOUND, 0, 0, 0},
      {"a CFA register without a mapping", {0x0C, 0x11, 0x10, 0x90, 0x01}, DZCRASH_NOT_SUPPORTED, 0, 0, 0},
      // CFA = rsp + 16 by expression; rip saved at the address CFA - 8 computes; rbx's value is CFA - 8.
      {"expressions",
       {0x0F, 0x02, 0x77, 0x10, 0x10, 0x10, 0x02, 0x38, 0x1C, 0x16, 0x03, 0x02, 0x38, 0x1C},
       DZCRASH_OK,
       0x401000,
       kSp + 16,
       kSp + 8},
      {"an expression rule's address starts as the CFA",
       {0x0C, 0x07, 0x10, 0x90, 0x01, 0x10, 0x03, 0x01, 0x96},
       DZCRASH_OK,
       0x401000,
       kSp + 16,
       0x5EED},
      {"register and same value",
       {0x0C, 0x07, 0x10, 0x90, 0x01, 0x09, 0x03, 0x0C, 0x08, 0x0C},
       DZCRASH_OK,
       0x401000,
       kSp + 16,
       0xCC},
      {"a saved register out of the stack",
       {0x0C, 0x07, 0x10, 0x90, 0x01, 0x83, 0x40},
       DZCRASH_NOT_FOUND,
       0,
       0,
       0},
  };
  for (const Case& c : cases) {
    Memory memory;
    memory.place(kStack, stack).place(kProgram, c.program);
    dwarf_section section;
    ASSERT_EQ(section.init(memory.task(), kProgram, c.program.size()), DZCRASH_OK);
    const dzcrash_async_dwarf_cie_info cie = x86Cie();
    State state;
    ASSERT_EQ(state.eval_program(&section, 0, kFunction, &cie, nullptr, le(), kProgram, 0, c.program.size()),
              DZCRASH_OK)
        << c.name;
    const dzcrash_async_thread_state current = x86_64State({{DZCRASH_X86_64_RSP, kSp},
                                                            {DZCRASH_X86_64_RIP, 0x400010},
                                                            {DZCRASH_X86_64_RBX, 0xBB},
                                                            {DZCRASH_X86_64_R12, 0xCC},
                                                            {DZCRASH_X86_64_RAX, 0xAA}});
    dzcrash_async_thread_state next;
    EXPECT_EQ(state.apply_state(memory.task(), &cie, &current, le(), &next), c.result) << c.name;
    if (c.result != DZCRASH_OK) continue;
    EXPECT_EQ(DZcrash_async_thread_state_get_reg(&next, DZCRASH_REG_IP), c.ip) << c.name;
    EXPECT_EQ(DZcrash_async_thread_state_get_reg(&next, DZCRASH_REG_SP), c.sp) << c.name;
    EXPECT_EQ(DZcrash_async_thread_state_get_reg(&next, DZCRASH_X86_64_RBX), c.rbx) << c.name;
    EXPECT_FALSE(DZcrash_async_thread_state_has_reg(&next, DZCRASH_X86_64_RAX))
        << c.name << ": rax is volatile";
    EXPECT_FALSE(next.ip_is_exact) << c.name;
  }
}

TEST(DwarfCfaState, AfterASignalFrameTheInstructionPointerIsLookedUpAsItIs) {
  dzcrash_async_thread_state previous = x86_64State({{DZCRASH_X86_64_RIP, 0x500000}});
  dzcrash_async_thread_state current = x86_64State({{DZCRASH_X86_64_RIP, 0x401000}});
  EXPECT_EQ(DZframe_cursor_lookup_address(&current, nullptr), 0x401000u) << "the first frame";
  EXPECT_EQ(DZframe_cursor_lookup_address(&current, &previous), 0x400FFFu) << "a return address";
  current.ip_is_exact = true;
  EXPECT_EQ(DZframe_cursor_lookup_address(&current, &previous), 0x401000u) << "interrupted by a signal";
  // Any change to the instruction pointer ends the mark.
  DZcrash_async_thread_state_set_reg(&current, DZCRASH_REG_IP, 0x401000);
  EXPECT_FALSE(current.ip_is_exact);
  current.ip_is_exact = true;
  DZcrash_async_thread_state_clear_volatile_regs(&current);
  EXPECT_FALSE(current.ip_is_exact);
}
