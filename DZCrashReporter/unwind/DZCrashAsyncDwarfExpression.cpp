#include "DZCrashReporter/unwind/DZCrashAsyncDwarfExpression.h"

#include "DZCrashReporter/unwind/DZCrashAsyncDwarfOpstream.h"

namespace dzcrash::async {

namespace {

// x86-64's return-address column. libc's PLT entries compute their CFA from the instruction pointer
// through it, so expressions read it as the instruction pointer, although the register table has no
// row for it.
constexpr uint64_t kX86_64ReturnAddressColumn = 16;

bool expressionRegister(const dzcrash_async_thread_state* state, uint64_t dwarf_reg, uint32_t* regnum) {
  if (DZcrash_async_thread_state_map_dwarf_to_reg(state, dwarf_reg, regnum)) return true;
  if (DZcrash_async_thread_state_get_reg_count(state) == DZCRASH_X86_64_REG_COUNT &&
      dwarf_reg == kX86_64ReturnAddressColumn) {
    *regnum = DZCRASH_REG_IP;
    return true;
  }
  return false;
}

template <typename machine_ptr>
class ExpressionStack {
 public:
  bool push(machine_ptr value) {
    if (count_ == DZCRASH_DWARF_EXPRESSION_STACK_SIZE) return false;
    values_[count_++] = value;
    return true;
  }
  bool pop(machine_ptr* value) {
    if (count_ == 0) return false;
    *value = values_[--count_];
    return true;
  }
  // The entry `depth` below the top (0 = top).
  bool peek(size_t depth, machine_ptr* value) const {
    if (depth >= count_) return false;
    *value = values_[count_ - 1 - depth];
    return true;
  }
  size_t count() const { return count_; }
  machine_ptr* at(size_t depth) { return &values_[count_ - 1 - depth]; }

 private:
  machine_ptr values_[DZCRASH_DWARF_EXPRESSION_STACK_SIZE];
  size_t count_ = 0;
};

// A word (or size bytes, zero-extended) from the task.
template <typename machine_ptr>
dzcrash_error_t readMemory(dzcrash_task_t task, const dzcrash_async_byteorder_t* bo, machine_ptr address,
                           uint8_t size, machine_ptr* value) {
  dzcrash_error_t err = DZCRASH_INVALID_ARGUMENT;
  switch (size) {
    case 1: {
      uint8_t v = 0;
      err = DZcrash_async_task_read_uint8(task, address, 0, &v);
      *value = v;
      break;
    }
    case 2: {
      uint16_t v = 0;
      err = DZcrash_async_task_read_uint16(task, bo, address, 0, &v);
      *value = v;
      break;
    }
    case 4: {
      uint32_t v = 0;
      err = DZcrash_async_task_read_uint32(task, bo, address, 0, &v);
      *value = static_cast<machine_ptr>(v);
      break;
    }
    case 8: {
      uint64_t v = 0;
      err = DZcrash_async_task_read_uint64(task, bo, address, 0, &v);
      *value = static_cast<machine_ptr>(v);
      break;
    }
    default:
      break;
  }
  return err;
}

}  // namespace

// async-signal-safe.
template <typename machine_ptr, typename machine_ptr_s>
dzcrash_error_t dzcrash_async_dwarf_expression_eval(dwarf_section* section, dzcrash_task_t task,
                                                    const dzcrash_async_thread_state* state,
                                                    const dzcrash_async_byteorder_t* byteorder,
                                                    uint64_t address, int64_t offset, uint64_t length,
                                                    const machine_ptr* initial_stack, size_t initial_count,
                                                    machine_ptr* result) {
  ExpressionStack<machine_ptr> stack;
  for (size_t i = 0; i < initial_count; ++i) {
    if (!stack.push(initial_stack[i])) return DZCRASH_INTERNAL;
  }
  if (length > static_cast<uint64_t>(INT64_MAX)) return DZCRASH_INVALID_ARGUMENT;
  dwarf_opstream ops;
  dzcrash_error_t err = ops.init(section, byteorder, address, offset, static_cast<int64_t>(length));
  if (err != DZCRASH_OK) return err;

    // Shortcuts for the rows of the operation table.
#define DZ_PUSH(value)                               \
  do {                                               \
    if (!stack.push(value)) return DZCRASH_INTERNAL; \
  } while (0)
#define DZ_POP(out, underflow)               \
  do {                                       \
    if (!stack.pop(out)) return (underflow); \
  } while (0)
#define DZ_OPERAND(read)                          \
  do {                                            \
    if (!(read)) return DZCRASH_INVALID_ARGUMENT; \
  } while (0)

  constexpr unsigned kBits = sizeof(machine_ptr) * 8;
  for (size_t steps = 0; !ops.at_end(); ++steps) {
    if (steps == DZCRASH_DWARF_EXPRESSION_MAX_STEPS) return DZCRASH_INVALID_ARGUMENT;
    uint8_t op = 0;
    DZ_OPERAND(ops.read_intU(&op));

    if (op >= DW_OP_lit0 && op <= DW_OP_lit31) {
      DZ_PUSH(static_cast<machine_ptr>(op - DW_OP_lit0));
      continue;
    }
    if ((op >= DW_OP_breg0 && op <= DW_OP_breg31) || op == DW_OP_bregx) {
      uint64_t dwarfReg = op - DW_OP_breg0;
      if (op == DW_OP_bregx) DZ_OPERAND(ops.read_uleb128(&dwarfReg));
      int64_t addend = 0;
      DZ_OPERAND(ops.read_sleb128(&addend));
      uint32_t regnum = 0;
      if (!expressionRegister(state, dwarfReg, &regnum)) return DZCRASH_NOT_SUPPORTED;
      if (!DZcrash_async_thread_state_has_reg(state, regnum)) return DZCRASH_NOT_FOUND;
      const machine_ptr value = static_cast<machine_ptr>(DZcrash_async_thread_state_get_reg(state, regnum));
      DZ_PUSH(static_cast<machine_ptr>(value + static_cast<machine_ptr>(addend)));
      continue;
    }

    machine_ptr a = 0;
    machine_ptr b = 0;
    switch (op) {
      case DW_OP_deref:
      case DW_OP_deref_size:
      case DW_OP_xderef:
      case DW_OP_xderef_size: {
        uint8_t size = sizeof(machine_ptr);
        if (op == DW_OP_deref_size || op == DW_OP_xderef_size) DZ_OPERAND(ops.read_intU(&size));
        const bool extended = op == DW_OP_xderef || op == DW_OP_xderef_size;
        const dzcrash_error_t underflow = extended ? DZCRASH_INVALID_ARGUMENT : DZCRASH_INTERNAL;
        DZ_POP(&a, underflow);
        // The address space id below the address names nothing on this system.
        if (extended) DZ_POP(&b, underflow);
        if (size != 1 && size != 2 && size != 4 && size != 8) return DZCRASH_INVALID_ARGUMENT;
        machine_ptr value = 0;
        if ((err = readMemory(task, byteorder, a, size, &value)) != DZCRASH_OK) return err;
        DZ_PUSH(value);
        break;
      }
      case DW_OP_const1u: {
        uint8_t v = 0;
        DZ_OPERAND(ops.read_intU(&v));
        DZ_PUSH(v);
        break;
      }
      case DW_OP_const1s: {
        uint8_t v = 0;
        DZ_OPERAND(ops.read_intU(&v));
        DZ_PUSH(static_cast<machine_ptr>(static_cast<int64_t>(static_cast<int8_t>(v))));
        break;
      }
      case DW_OP_const2u: {
        uint16_t v = 0;
        DZ_OPERAND(ops.read_intU(&v));
        DZ_PUSH(v);
        break;
      }
      case DW_OP_const2s: {
        uint16_t v = 0;
        DZ_OPERAND(ops.read_intU(&v));
        DZ_PUSH(static_cast<machine_ptr>(static_cast<int64_t>(static_cast<int16_t>(v))));
        break;
      }
      case DW_OP_const4u: {
        uint32_t v = 0;
        DZ_OPERAND(ops.read_intU(&v));
        DZ_PUSH(static_cast<machine_ptr>(v));
        break;
      }
      case DW_OP_const4s: {
        uint32_t v = 0;
        DZ_OPERAND(ops.read_intU(&v));
        DZ_PUSH(static_cast<machine_ptr>(static_cast<int64_t>(static_cast<int32_t>(v))));
        break;
      }
      case DW_OP_const8u:
      case DW_OP_const8s: {
        uint64_t v = 0;
        DZ_OPERAND(ops.read_intU(&v));
        DZ_PUSH(static_cast<machine_ptr>(v));
        break;
      }
      case DW_OP_constu: {
        uint64_t v = 0;
        DZ_OPERAND(ops.read_uleb128(&v));
        DZ_PUSH(static_cast<machine_ptr>(v));
        break;
      }
      case DW_OP_consts: {
        int64_t v = 0;
        DZ_OPERAND(ops.read_sleb128(&v));
        DZ_PUSH(static_cast<machine_ptr>(v));
        break;
      }
      case DW_OP_dup:
        if (!stack.peek(0, &a)) return DZCRASH_INVALID_ARGUMENT;
        DZ_PUSH(a);
        break;
      case DW_OP_drop:
        DZ_POP(&a, DZCRASH_INVALID_ARGUMENT);
        break;
      case DW_OP_over:
        if (!stack.peek(1, &a)) return DZCRASH_INVALID_ARGUMENT;
        DZ_PUSH(a);
        break;
      case DW_OP_pick: {
        uint8_t index = 0;
        DZ_OPERAND(ops.read_intU(&index));
        if (!stack.peek(index, &a)) return DZCRASH_INVALID_ARGUMENT;
        DZ_PUSH(a);
        break;
      }
      case DW_OP_swap:
        if (stack.count() < 2) return DZCRASH_INVALID_ARGUMENT;
        a = *stack.at(0);
        *stack.at(0) = *stack.at(1);
        *stack.at(1) = a;
        break;
      case DW_OP_rot:
        // The top moves to third place; the second and third move up.
        if (stack.count() < 3) return DZCRASH_INVALID_ARGUMENT;
        a = *stack.at(0);
        *stack.at(0) = *stack.at(1);
        *stack.at(1) = *stack.at(2);
        *stack.at(2) = a;
        break;
      case DW_OP_abs:
      case DW_OP_neg:
      case DW_OP_not:
      case DW_OP_plus_uconst: {
        uint64_t addend = 0;
        if (op == DW_OP_plus_uconst) DZ_OPERAND(ops.read_uleb128(&addend));
        DZ_POP(&a, DZCRASH_INTERNAL);
        const machine_ptr_s s = static_cast<machine_ptr_s>(a);
        if (op == DW_OP_abs) {
          a = s < 0 ? static_cast<machine_ptr>(0 - a) : a;
        } else if (op == DW_OP_neg) {
          a = static_cast<machine_ptr>(0 - a);
        } else if (op == DW_OP_not) {
          a = static_cast<machine_ptr>(~a);
        } else {
          a = static_cast<machine_ptr>(a + static_cast<machine_ptr>(addend));
        }
        DZ_PUSH(a);
        break;
      }
      case DW_OP_and:
      case DW_OP_div:
      case DW_OP_minus:
      case DW_OP_mod:
      case DW_OP_mul:
      case DW_OP_or:
      case DW_OP_plus:
      case DW_OP_shl:
      case DW_OP_shr:
      case DW_OP_shra:
      case DW_OP_xor:
      case DW_OP_eq:
      case DW_OP_ge:
      case DW_OP_gt:
      case DW_OP_le:
      case DW_OP_lt:
      case DW_OP_ne: {
        // b is the top entry, a the one below it: the operation is a op b.
        DZ_POP(&b, DZCRASH_INTERNAL);
        DZ_POP(&a, DZCRASH_INTERNAL);
        const machine_ptr_s sa = static_cast<machine_ptr_s>(a);
        const machine_ptr_s sb = static_cast<machine_ptr_s>(b);
        const unsigned shift = static_cast<unsigned>(b % 64);
        machine_ptr r = 0;
        switch (op) {
          case DW_OP_and:
            r = a & b;
            break;
          case DW_OP_div:
            if (b == 0) return DZCRASH_INVALID_ARGUMENT;
            // The one quotient that overflows wraps, as the hardware's would.
            r = sb == -1 ? static_cast<machine_ptr>(0 - a) : static_cast<machine_ptr>(sa / sb);
            break;
          case DW_OP_minus:
            r = static_cast<machine_ptr>(a - b);
            break;
          case DW_OP_mod:
            if (b == 0) return DZCRASH_INVALID_ARGUMENT;
            r = a % b;
            break;
          case DW_OP_mul:
            r = static_cast<machine_ptr>(a * b);
            break;
          case DW_OP_or:
            r = a | b;
            break;
          case DW_OP_plus:
            r = static_cast<machine_ptr>(a + b);
            break;
          case DW_OP_shl:
            r = shift >= kBits ? 0 : static_cast<machine_ptr>(a << shift);
            break;
          case DW_OP_shr:
            r = shift >= kBits ? 0 : static_cast<machine_ptr>(a >> shift);
            break;
          case DW_OP_shra:
            r = static_cast<machine_ptr>(shift >= kBits ? (sa < 0 ? -1 : 0) : (sa >> shift));
            break;
          case DW_OP_xor:
            r = a ^ b;
            break;
          case DW_OP_eq:
            r = sa == sb;
            break;
          case DW_OP_ge:
            r = sa >= sb;
            break;
          case DW_OP_gt:
            r = sa > sb;
            break;
          case DW_OP_le:
            r = sa <= sb;
            break;
          case DW_OP_lt:
            r = sa < sb;
            break;
          default:  // DW_OP_ne
            r = sa != sb;
            break;
        }
        DZ_PUSH(r);
        break;
      }
      case DW_OP_skip:
      case DW_OP_bra: {
        uint16_t raw = 0;
        DZ_OPERAND(ops.read_intU(&raw));
        const int64_t distance = static_cast<int16_t>(raw);
        if (op == DW_OP_bra) {
          DZ_POP(&a, DZCRASH_INTERNAL);
          if (a == 0) break;
        }
        uint64_t target = 0;
        if (!DZcrash_async_address_apply_offset(ops.position(), distance, &target) || !ops.seek(target)) {
          return DZCRASH_INVALID_ARGUMENT;
        }
        break;
      }
      case DW_OP_nop:
        break;
      default:
        return DZCRASH_NOT_SUPPORTED;
    }
  }
#undef DZ_PUSH
#undef DZ_POP
#undef DZ_OPERAND

  if (!stack.pop(result)) return DZCRASH_INVALID_ARGUMENT;
  return DZCRASH_OK;
}

template dzcrash_error_t dzcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
    dwarf_section*, dzcrash_task_t, const dzcrash_async_thread_state*, const dzcrash_async_byteorder_t*,
    uint64_t, int64_t, uint64_t, const uint32_t*, size_t, uint32_t*);
template dzcrash_error_t dzcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
    dwarf_section*, dzcrash_task_t, const dzcrash_async_thread_state*, const dzcrash_async_byteorder_t*,
    uint64_t, int64_t, uint64_t, const uint64_t*, size_t, uint64_t*);

}  // namespace dzcrash::async
