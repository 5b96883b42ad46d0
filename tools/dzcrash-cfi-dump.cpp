// Prints the call-frame information of an ELF or Mach-O file as the crash reporter's DWARF reader sees
// it: every CIE and FDE of .debug_frame and .eh_frame (__DWARF,__debug_frame and __TEXT,__eh_frame),
// their instructions, and the rows of rules that evaluating those instructions gives, in the layout of
// `llvm-dwarfdump --eh-frame`, so that the two can be compared line by line.
//   dzcrash-cfi-dump FILE
//
// Only the printing is this tool's own: records are parsed and rows computed by the reporter's code.

#include <elf.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfCFAState.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfExpression.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfFrameReader.h"
#include "DZCrashReporter/unwind/DZCrashAsyncDwarfOpstream.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"

using namespace dzcrash;
using namespace dzcrash::async;

namespace {

enum class Arch { X86_64, X86, Arm64, Other };

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buffer[256];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buffer, sizeof(buffer), fmt, args);
  va_end(args);
  return buffer;
}

std::string registerName(Arch arch, uint64_t reg) {
  static const char* const x86_64[] = {"RAX", "RDX", "RCX", "RBX", "RSI", "RDI", "RBP", "RSP", "R8",
                                       "R9",  "R10", "R11", "R12", "R13", "R14", "R15", "RIP"};
  static const char* const x86[] = {"EAX", "ECX", "EDX", "EBX", "ESP", "EBP", "ESI", "EDI", "EIP"};
  switch (arch) {
    case Arch::X86_64:
      if (reg < std::size(x86_64)) return x86_64[reg];
      if (reg >= 17 && reg <= 32) return format("XMM%" PRIu64, reg - 17);
      if (reg >= 33 && reg <= 40) return format("ST%" PRIu64, reg - 33);
      if (reg >= 41 && reg <= 48) return format("MM%" PRIu64, reg - 41);
      break;
    case Arch::X86:
      if (reg < std::size(x86)) return x86[reg];
      break;
    case Arch::Arm64:
      // The names llvm-dwarfdump gives arm64's DWARF numbers.
      if (reg <= 30) return format("W%" PRIu64, reg);
      if (reg == 31) return "WSP";
      break;
    case Arch::Other:
      break;
  }
  return format("reg%" PRIu64, reg);
}

struct Dump {
  dzcrash_task_t task;
  const dzcrash_async_byteorder_t* byteorder;
  bool m64;
  bool debugFrame;
  Arch arch;
  std::string out;
};

const char* opName(uint8_t op) {
  static const std::map<uint8_t, const char*> names = {
      {0x03, "DW_OP_addr"},       {0x06, "DW_OP_deref"},
      {0x08, "DW_OP_const1u"},    {0x09, "DW_OP_const1s"},
      {0x0a, "DW_OP_const2u"},    {0x0b, "DW_OP_const2s"},
      {0x0c, "DW_OP_const4u"},    {0x0d, "DW_OP_const4s"},
      {0x0e, "DW_OP_const8u"},    {0x0f, "DW_OP_const8s"},
      {0x10, "DW_OP_constu"},     {0x11, "DW_OP_consts"},
      {0x12, "DW_OP_dup"},        {0x13, "DW_OP_drop"},
      {0x14, "DW_OP_over"},       {0x15, "DW_OP_pick"},
      {0x16, "DW_OP_swap"},       {0x17, "DW_OP_rot"},
      {0x18, "DW_OP_xderef"},     {0x19, "DW_OP_abs"},
      {0x1a, "DW_OP_and"},        {0x1b, "DW_OP_div"},
      {0x1c, "DW_OP_minus"},      {0x1d, "DW_OP_mod"},
      {0x1e, "DW_OP_mul"},        {0x1f, "DW_OP_neg"},
      {0x20, "DW_OP_not"},        {0x21, "DW_OP_or"},
      {0x22, "DW_OP_plus"},       {0x23, "DW_OP_plus_uconst"},
      {0x24, "DW_OP_shl"},        {0x25, "DW_OP_shr"},
      {0x26, "DW_OP_shra"},       {0x27, "DW_OP_xor"},
      {0x28, "DW_OP_bra"},        {0x29, "DW_OP_eq"},
      {0x2a, "DW_OP_ge"},         {0x2b, "DW_OP_gt"},
      {0x2c, "DW_OP_le"},         {0x2d, "DW_OP_lt"},
      {0x2e, "DW_OP_ne"},         {0x2f, "DW_OP_skip"},
      {0x90, "DW_OP_regx"},       {0x91, "DW_OP_fbreg"},
      {0x92, "DW_OP_bregx"},      {0x93, "DW_OP_piece"},
      {0x94, "DW_OP_deref_size"}, {0x95, "DW_OP_xderef_size"},
      {0x96, "DW_OP_nop"},        {0x9c, "DW_OP_call_frame_cfa"},
  };
  const auto it = names.find(op);
  return it == names.end() ? nullptr : it->second;
}

// An expression block as llvm-dwarfdump prints it: operations separated by ", ".
std::string expression(Dump& d, uint64_t address, uint64_t length) {
  dwarf_section block;
  dwarf_opstream ops;
  if (block.init(d.task, address, length) != DZCRASH_OK ||
      ops.init(&block, d.byteorder, address, 0, static_cast<int64_t>(length)) != DZCRASH_OK) {
    return "<unreadable expression>";
  }
  std::string text;
  while (!ops.at_end()) {
    if (!text.empty()) text += ", ";
    uint8_t op = 0;
    if (!ops.read_intU(&op)) return text + "<truncated>";
    uint64_t u = 0;
    int64_t s = 0;
    bool ok = true;
    if (op >= DW_OP_lit0 && op <= DW_OP_lit31) {
      text += format("DW_OP_lit%d", op - DW_OP_lit0);
    } else if (op >= DW_OP_reg0 && op < DW_OP_reg0 + 32) {
      text += format("DW_OP_reg%d %s", op - DW_OP_reg0, registerName(d.arch, op - DW_OP_reg0).c_str());
    } else if (op >= DW_OP_breg0 && op <= DW_OP_breg31) {
      ok = ops.read_sleb128(&s);
      text += format("DW_OP_breg%d %s%+" PRId64, op - DW_OP_breg0,
                     registerName(d.arch, op - DW_OP_breg0).c_str(), s);
    } else if (op == DW_OP_bregx) {
      ok = ops.read_uleb128(&u) && ops.read_sleb128(&s);
      text += format("DW_OP_bregx %s%+" PRId64, registerName(d.arch, u).c_str(), s);
    } else if (op == DW_OP_regx) {
      ok = ops.read_uleb128(&u);
      text += format("DW_OP_regx %s", registerName(d.arch, u).c_str());
    } else if (const char* name = opName(op)) {
      text += name;
      uint8_t b1 = 0;
      uint16_t b2 = 0;
      uint32_t b4 = 0;
      switch (op) {
        case DW_OP_const1u:
        case DW_OP_pick:
        case DW_OP_deref_size:
        case DW_OP_xderef_size:
          ok = ops.read_intU(&b1);
          text += format(" 0x%x", b1);
          break;
        case DW_OP_const1s:
          ok = ops.read_intU(&b1);
          text += format(" %d", static_cast<int8_t>(b1));
          break;
        case DW_OP_const2u:
          ok = ops.read_intU(&b2);
          text += format(" 0x%x", b2);
          break;
        case DW_OP_const2s:
        case DW_OP_skip:
        case DW_OP_bra:
          ok = ops.read_intU(&b2);
          text += format(" %d", static_cast<int16_t>(b2));
          break;
        case DW_OP_const4u:
          ok = ops.read_intU(&b4);
          text += format(" 0x%x", b4);
          break;
        case DW_OP_const4s:
          ok = ops.read_intU(&b4);
          text += format(" %d", static_cast<int32_t>(b4));
          break;
        case DW_OP_const8u:
        case 0x03:  // DW_OP_addr, a word
          if (op == 0x03 && !d.m64) {
            ok = ops.read_intU(&b4);
            u = b4;
          } else {
            ok = ops.read_intU(&u);
          }
          text += format(" 0x%" PRIx64, u);
          break;
        case DW_OP_const8s:
          ok = ops.read_intU(&u);
          text += format(" %" PRId64, static_cast<int64_t>(u));
          break;
        case DW_OP_constu:
        case DW_OP_plus_uconst:
        case DW_OP_piece:
          ok = ops.read_uleb128(&u);
          text += format(" 0x%" PRIx64, u);
          break;
        case DW_OP_consts:
        case DW_OP_fbreg:
          ok = ops.read_sleb128(&s);
          text += format(" %" PRId64, s);
          break;
        default:
          break;
      }
    } else {
      return text + format("<unknown op 0x%02x>", op);
    }
    if (!ok) return text + " <truncated>";
  }
  return text;
}

template <typename machine_ptr>
bool readPointer(Dump& d, dwarf_section* section, uint64_t at, uint8_t encoding, uint64_t* value,
                 uint64_t* size) {
  const gnu_ehptr_reader<machine_ptr> reader(d.byteorder);
  machine_ptr v = 0;
  // Printed as written: an indirect pointer's slot, not what the slot holds.
  if (reader.read(section, at, 0, encoding & ~DW_EH_PE_indirect, &v, size) != DZCRASH_OK) return false;
  *value = v;
  return true;
}

// The pieces of a CIE the reporter's record does not keep: the augmentation string, its data, and the
// personality pointer as written (the record holds what an indirect one points at).
struct CieExtras {
  std::string augmentation;
  std::vector<uint8_t> data;
  bool hasPersonality = false;
  uint64_t personality = 0;
};

CieExtras cieExtras(Dump& d, dwarf_section* section, uint64_t entry,
                    const dzcrash_async_dwarf_cie_info& cie) {
  CieExtras extras;
  uint64_t at = section->base_address() + cie.cie_offset + (entry + 4 == cie.cie_offset ? 4 : 8) + 1;
  for (uint8_t c = 0; section->read_uint8(at, 0, &c) == DZCRASH_OK && c != 0; ++at) {
    extras.augmentation += char(c);
  }
  ++at;
  if (cie.cie_version == 4) at += 2;
  uint64_t value = 0, size = 0;
  int64_t signedValue = 0;
  dzcrash_async_dwarf_read_uleb128(section, at, 0, &value, &size);
  at += size;
  dzcrash_async_dwarf_read_sleb128(section, at, 0, &signedValue, &size);
  at += size;
  dzcrash_async_dwarf_read_uleb128(section, at, 0, &value, &size);
  at += size;
  if (!cie.has_eh_augmentation ||
      dzcrash_async_dwarf_read_uleb128(section, at, 0, &value, &size) != DZCRASH_OK) {
    return extras;
  }
  at += size;
  extras.data.resize(value);
  if (section->read(at, 0, extras.data.data(), value) != DZCRASH_OK) extras.data.clear();
  for (size_t i = 1; i < extras.augmentation.size(); ++i) {
    const char letter = extras.augmentation[i];
    if (letter == 'L' || letter == 'R') {
      ++at;
    } else if (letter == 'P') {
      uint8_t encoding = 0;
      if (section->read_uint8(at, 0, &encoding) != DZCRASH_OK) break;
      extras.hasPersonality =
          d.m64 ? readPointer<uint64_t>(d, section, at + 1, encoding, &extras.personality, &size)
                : readPointer<uint32_t>(d, section, at + 1, encoding, &extras.personality, &size);
      at += 1 + size;
    } else if (letter != 'S') {
      break;
    }
  }
  return extras;
}

// Where the FDE's LSDA pointer is, and its value.
bool fdeLsda(Dump& d, dwarf_section* section, uint64_t entry, const dzcrash_async_dwarf_fde_info& fde,
             const dzcrash_async_dwarf_cie_info& cie, uint64_t* lsda) {
  if (!cie.has_eh_augmentation || !cie.eh_augmentation.has_lsda_encoding ||
      cie.eh_augmentation.lsda_encoding == DW_EH_PE_omit) {
    return false;
  }
  const bool m64Format = entry + 4 != fde.fde_offset;
  uint64_t at = section->base_address() + fde.fde_offset + (m64Format ? 8 : 4);
  const uint8_t encoding = cie.eh_augmentation.has_pointer_encoding ? cie.eh_augmentation.pointer_encoding
                                                                    : uint8_t{DW_EH_PE_absptr};
  uint64_t value = 0, size = 0;
  for (int i = 0; i < 2; ++i) {
    const uint8_t e = i == 0 ? encoding : encoding & DW_EH_PE_FORMAT_MASK;
    if (!(d.m64 ? readPointer<uint64_t>(d, section, at, e, &value, &size)
                : readPointer<uint32_t>(d, section, at, e, &value, &size))) {
      return false;
    }
    at += size;
  }
  if (dzcrash_async_dwarf_read_uleb128(section, at, 0, &value, &size) != DZCRASH_OK) return false;
  at += size;
  return d.m64 ? readPointer<uint64_t>(d, section, at, cie.eh_augmentation.lsda_encoding, lsda, &size)
               : readPointer<uint32_t>(d, section, at, cie.eh_augmentation.lsda_encoding, lsda, &size);
}

// Registers a program marks undefined: the rule table drops them, but the listing names them.
struct Undefined {
  std::set<uint64_t> regs;
  std::vector<std::set<uint64_t>> remembered;
};

struct Listing {
  std::vector<std::string> lines;
  // Row addresses: where each advance began, and finally where the program ended.
  std::vector<uint64_t> rows;
  // The undefined registers at each row.
  std::vector<std::set<uint64_t>> undefinedAt;
  // The location after the last advance.
  uint64_t end = 0;
};

// Decodes a program for printing, and notes the locations at which llvm-dwarfdump's table has rows.
Listing listProgram(Dump& d, dwarf_section* section, const dzcrash_async_dwarf_cie_info& cie, uint64_t start,
                    uint64_t length, uint64_t location, Undefined* undefined,
                    const std::set<uint64_t>& initialUndef) {
  Listing listing;
  dwarf_opstream ops;
  if (ops.init(section, d.byteorder, start, 0, static_cast<int64_t>(length)) != DZCRASH_OK) {
    listing.lines.push_back("<the program does not lie in the section>");
    return listing;
  }
  const uint64_t caf = cie.code_alignment_factor;
  const int64_t daf = cie.data_alignment_factor;
  auto reg = [&](uint64_t r) { return registerName(d.arch, r); };
  auto row = [&]() {
    listing.rows.push_back(location);
    listing.undefinedAt.push_back(undefined->regs);
  };
  auto defines = [&](uint64_t r) { undefined->regs.erase(r); };
  auto restores = [&](uint64_t r) {
    if (initialUndef.count(r) != 0) {
      undefined->regs.insert(r);
    } else {
      undefined->regs.erase(r);
    }
  };
  auto mask = [&](uint64_t v) { return d.m64 ? v : v & UINT32_MAX; };
  while (!ops.at_end()) {
    uint8_t opcode = 0;
    uint64_t u = 0, r = 0, r2 = 0;
    int64_t s = 0;
    bool ok = ops.read_intU(&opcode);
    const uint8_t low = opcode & 0x3F;
    std::string line;
    switch (opcode & 0xC0) {
      case DW_CFA_advance_loc:
        line = format("DW_CFA_advance_loc: %" PRIu64, low * caf);
        row();
        location = mask(location + low * caf);
        break;
      case DW_CFA_offset:
        ok = ok && ops.read_uleb128(&u);
        line = format("DW_CFA_offset: %s %" PRId64, reg(low).c_str(), static_cast<int64_t>(u) * daf);
        defines(low);
        break;
      case DW_CFA_restore:
        line = "DW_CFA_restore: " + reg(low);
        restores(low);
        break;
      default:
        switch (opcode) {
          case DW_CFA_nop:
            line = "DW_CFA_nop:";
            break;
          case DW_CFA_set_loc: {
            const uint8_t encoding = cie.has_eh_augmentation && cie.eh_augmentation.has_pointer_encoding
                                         ? cie.eh_augmentation.pointer_encoding
                                         : uint8_t{DW_EH_PE_absptr};
            uint64_t size = 0;
            ok = ok &&
                 (d.m64 ? readPointer<uint64_t>(d, section, ops.position(), encoding, &u, &size)
                        : readPointer<uint32_t>(d, section, ops.position(), encoding, &u, &size)) &&
                 ops.skip(size);
            line = format("DW_CFA_set_loc: 0x%" PRIx64, u);
            row();
            location = u;
            break;
          }
          case DW_CFA_advance_loc1:
          case DW_CFA_advance_loc2:
          case DW_CFA_advance_loc4: {
            uint8_t b1 = 0;
            uint16_t b2 = 0;
            uint32_t b4 = 0;
            if (opcode == DW_CFA_advance_loc1) ok = ok && ops.read_intU(&b1), u = b1;
            if (opcode == DW_CFA_advance_loc2) ok = ok && ops.read_intU(&b2), u = b2;
            if (opcode == DW_CFA_advance_loc4) ok = ok && ops.read_intU(&b4), u = b4;
            const int width = opcode == DW_CFA_advance_loc1 ? 1 : opcode == DW_CFA_advance_loc2 ? 2 : 4;
            line = format("DW_CFA_advance_loc%d: %" PRIu64, width, u * caf);
            row();
            location = mask(location + u * caf);
            break;
          }
          case DW_CFA_offset_extended:
            ok = ok && ops.read_uleb128(&r) && ops.read_uleb128(&u);
            line =
                format("DW_CFA_offset_extended: %s %" PRId64, reg(r).c_str(), static_cast<int64_t>(u) * daf);
            defines(r);
            break;
          case DW_CFA_restore_extended:
            ok = ok && ops.read_uleb128(&r);
            line = "DW_CFA_restore_extended: " + reg(r);
            restores(r);
            break;
          case DW_CFA_undefined:
            ok = ok && ops.read_uleb128(&r);
            line = "DW_CFA_undefined: " + reg(r);
            undefined->regs.insert(r);
            break;
          case DW_CFA_same_value:
            ok = ok && ops.read_uleb128(&r);
            line = "DW_CFA_same_value: " + reg(r);
            defines(r);
            break;
          case DW_CFA_register:
            ok = ok && ops.read_uleb128(&r) && ops.read_uleb128(&r2);
            line = "DW_CFA_register: " + reg(r) + " " + reg(r2);
            defines(r);
            break;
          case DW_CFA_remember_state:
            line = "DW_CFA_remember_state:";
            undefined->remembered.push_back(undefined->regs);
            break;
          case DW_CFA_restore_state:
            line = "DW_CFA_restore_state:";
            if (!undefined->remembered.empty()) {
              undefined->regs = undefined->remembered.back();
              undefined->remembered.pop_back();
            }
            break;
          case DW_CFA_def_cfa:
            ok = ok && ops.read_uleb128(&r) && ops.read_uleb128(&u);
            line = format("DW_CFA_def_cfa: %s %+" PRId64, reg(r).c_str(), static_cast<int64_t>(u));
            break;
          case DW_CFA_def_cfa_register:
            ok = ok && ops.read_uleb128(&r);
            line = "DW_CFA_def_cfa_register: " + reg(r);
            break;
          case DW_CFA_def_cfa_offset:
            ok = ok && ops.read_uleb128(&u);
            line = format("DW_CFA_def_cfa_offset: %+" PRId64, static_cast<int64_t>(u));
            break;
          case DW_CFA_def_cfa_expression:
            ok = ok && ops.read_uleb128(&u);
            line = "DW_CFA_def_cfa_expression: " + expression(d, ops.position(), u);
            ok = ok && ops.skip(u);
            break;
          case DW_CFA_expression:
          case DW_CFA_val_expression:
            ok = ok && ops.read_uleb128(&r) && ops.read_uleb128(&u);
            line =
                std::string(opcode == DW_CFA_expression ? "DW_CFA_expression: " : "DW_CFA_val_expression: ") +
                reg(r) + " " + expression(d, ops.position(), u);
            ok = ok && ops.skip(u);
            defines(r);
            break;
          case DW_CFA_offset_extended_sf:
            ok = ok && ops.read_uleb128(&r) && ops.read_sleb128(&s);
            line = format("DW_CFA_offset_extended_sf: %s %" PRId64, reg(r).c_str(), s * daf);
            defines(r);
            break;
          case DW_CFA_def_cfa_sf:
            ok = ok && ops.read_uleb128(&r) && ops.read_sleb128(&s);
            line = format("DW_CFA_def_cfa_sf: %s %" PRId64, reg(r).c_str(), s * daf);
            break;
          case DW_CFA_def_cfa_offset_sf:
            ok = ok && ops.read_sleb128(&s);
            line = format("DW_CFA_def_cfa_offset_sf: %" PRId64, s * daf);
            break;
          case DW_CFA_val_offset:
            ok = ok && ops.read_uleb128(&r) && ops.read_uleb128(&u);
            line = format("DW_CFA_val_offset: %s %" PRId64, reg(r).c_str(), static_cast<int64_t>(u) * daf);
            defines(r);
            break;
          case DW_CFA_val_offset_sf:
            ok = ok && ops.read_uleb128(&r) && ops.read_sleb128(&s);
            line = format("DW_CFA_val_offset_sf: %s %" PRId64, reg(r).c_str(), s * daf);
            defines(r);
            break;
          case DW_CFA_GNU_args_size:
            ok = ok && ops.read_uleb128(&u);
            line = format("DW_CFA_GNU_args_size: %+" PRId64, static_cast<int64_t>(u));
            break;
          default:
            line = format("<unknown opcode 0x%02x>", opcode);
            ok = false;
            break;
        }
    }
    if (!ok && line.rfind("<unknown", 0) != 0) line += " <truncated>";
    listing.lines.push_back(line);
    if (!ok) break;
  }
  listing.end = location;
  return listing;
}

std::string cfaText(Dump& d, int64_t offset, uint32_t reg) {
  return registerName(d.arch, reg) + (offset != 0 ? format("%+" PRId64, offset) : "");
}

// One row of rules, or "" when it has none (llvm-dwarfdump leaves such rows out).
template <typename machine_ptr, typename machine_ptr_s>
std::string rowText(Dump& d, dwarf_cfa_state<machine_ptr, machine_ptr_s>& state,
                    const std::set<uint64_t>& undefined) {
  using state_t = dwarf_cfa_state<machine_ptr, machine_ptr_s>;
  const typename state_t::cfa_rule cfa = state.get_cfa_rule();
  std::map<uint64_t, std::string> regs;
  dwarf_cfa_state_iterator<machine_ptr, machine_ptr_s> it(&state);
  uint32_t reg = 0;
  dzcrash_dwarf_cfa_reg_rule_t rule;
  machine_ptr value = 0;
  while (it.next(&reg, &rule, &value)) {
    const int64_t offset = static_cast<machine_ptr_s>(value);
    std::string text;
    switch (rule) {
      case DZCRASH_DWARF_CFA_REG_RULE_OFFSET:
        text = "[CFA" + (offset != 0 ? format("%+" PRId64, offset) : "") + "]";
        break;
      case DZCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET:
        text = "CFA" + (offset != 0 ? format("%+" PRId64, offset) : "");
        break;
      case DZCRASH_DWARF_CFA_REG_RULE_REGISTER:
        text = registerName(d.arch, value);
        break;
      case DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION:
      case DZCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
        uint64_t length = 0, size = 0;
        dzcrash_async_dwarf_read_task_uleb128(d.task, value, 0, &length, &size);
        text = expression(d, value + size, length);
        if (rule == DZCRASH_DWARF_CFA_REG_RULE_EXPRESSION) text = "[" + text + "]";
        break;
      }
      case DZCRASH_DWARF_CFA_REG_RULE_SAME_VALUE:
        text = "same";
        break;
    }
    regs[reg] = text;
  }
  for (const uint64_t r : undefined) regs[r] = "undefined";
  if (cfa.type == state_t::CFA_TYPE_UNDEFINED && regs.empty()) return "";

  std::string text = "CFA=";
  switch (cfa.type) {
    case state_t::CFA_TYPE_REGISTER:
    case state_t::CFA_TYPE_REGISTER_SIGNED:
      text += cfaText(d, static_cast<machine_ptr_s>(cfa.offset), cfa.reg);
      break;
    case state_t::CFA_TYPE_EXPRESSION:
      text += expression(d, cfa.expression_address, cfa.expression_length);
      break;
    default:
      text += "unspecified";
      break;
  }
  bool first = true;
  for (const auto& [r, rule] : regs) {
    text += first ? ": " : ", ";
    first = false;
    text += registerName(d.arch, r) + "=" + rule;
  }
  return text;
}

// The rows of an FDE (or, with fde null, the single row of a CIE), each computed by running the
// reporter's evaluator up to the row's address.
template <typename machine_ptr, typename machine_ptr_s>
void printRows(Dump& d, dwarf_section* section, const dzcrash_async_dwarf_cie_info& cie,
               const dzcrash_async_dwarf_fde_info* fde, const Listing* fdeListing,
               const std::set<uint64_t>& cieUndef) {
  const gnu_ehptr_reader<machine_ptr> pointers(d.byteorder);
  const uint64_t base = section->base_address();
  auto evaluate = [&](dwarf_cfa_state<machine_ptr, machine_ptr_s>* state, machine_ptr target,
                      machine_ptr start) -> bool {
    if (state->eval_program(section, target, start, &cie, &pointers, d.byteorder, base,
                            cie.initial_instructions_offset, cie.initial_instructions_length) != DZCRASH_OK) {
      return false;
    }
    return fde == nullptr ||
           state->eval_program(section, target, start, &cie, &pointers, d.byteorder, base,
                               fde->instructions_offset, fde->instructions_length) == DZCRASH_OK;
  };
  if (fde == nullptr) {
    dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
    if (!evaluate(&state, 0, 0)) {
      d.out += "  <the evaluator refused this CIE's program>\n";
      return;
    }
    const std::string text = rowText(d, state, cieUndef);
    if (!text.empty()) d.out += "  " + text + "\n";
    return;
  }
  // A target of 0 means "the whole program" to the evaluator; a function at address 0 (an object file)
  // is evaluated shifted by one byte.
  const machine_ptr shift = fde->pc_start == 0 ? 1 : 0;
  const size_t count = fdeListing->rows.size();
  for (size_t i = 0; i < count; ++i) {
    const uint64_t address = fdeListing->rows[i];
    dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
    if (!evaluate(&state, static_cast<machine_ptr>(address + shift),
                  static_cast<machine_ptr>(fde->pc_start + shift))) {
      d.out += format("  0x%" PRIx64 ": <the evaluator refused this row>\n", address);
      continue;
    }
    const std::string text = rowText(d, state, fdeListing->undefinedAt[i]);
    // The last row is the program's end state, which llvm-dwarfdump leaves out when it is empty.
    if (text.empty() && i + 1 == count) continue;
    d.out += format("  0x%" PRIx64 ": ", address) + text + "\n";
  }
}

void printCie(Dump& d, dwarf_section* section, const dwarf_frame_entry& entry) {
  dzcrash_async_dwarf_cie_info cie;
  dzcrash_error_t err;
  const uint64_t address = section->base_address() + entry.offset;
  if (d.m64) {
    const gnu_ehptr_reader<uint64_t> reader(d.byteorder);
    err = dzcrash_async_dwarf_cie_info_init<uint64_t>(&cie, section, d.byteorder, &reader, address);
  } else {
    const gnu_ehptr_reader<uint32_t> reader(d.byteorder);
    err = dzcrash_async_dwarf_cie_info_init<uint32_t>(&cie, section, d.byteorder, &reader, address);
  }
  const bool dwarf64 = entry.offset + 4 != cie.cie_offset;
  const int width = dwarf64 ? 16 : 8;
  d.out += format("%08" PRIx64 " %0*" PRIx64 " %0*" PRIx64 " CIE\n", entry.offset, width, entry.length, width,
                  entry.id);
  if (err != DZCRASH_OK) {
    d.out += std::string("  <the reader refused this CIE: ") + DZcrash_async_strerror(err) + ">\n\n";
    return;
  }
  const CieExtras extras = cieExtras(d, section, entry.offset, cie);
  d.out += format("  Format:                %s\n", dwarf64 ? "DWARF64" : "DWARF32");
  d.out += format("  Version:               %u\n", cie.cie_version);
  d.out += "  Augmentation:          \"" + extras.augmentation + "\"\n";
  if (cie.cie_version >= 4) {
    d.out += format("  Address size:          %u\n", cie.address_size);
    d.out += format("  Segment desc size:     %u\n", cie.segment_size);
  }
  d.out += format("  Code alignment factor: %" PRIu64 "\n", cie.code_alignment_factor);
  d.out += format("  Data alignment factor: %" PRId64 "\n", cie.data_alignment_factor);
  d.out += format("  Return address column: %" PRIu64 "\n", cie.return_address_register);
  if (cie.eh_augmentation.has_personality_address && extras.hasPersonality) {
    d.out += format("  Personality Address: %016" PRIx64 "\n", extras.personality);
  }
  if (!extras.data.empty()) {
    d.out += "  Augmentation data:    ";
    for (const uint8_t byte : extras.data) d.out += format(" %02X", byte);
    d.out += "\n";
  }
  d.out += "\n";
  Undefined undefined;
  const Listing listing =
      listProgram(d, section, cie, section->base_address() + cie.initial_instructions_offset,
                  cie.initial_instructions_length, 0, &undefined, {});
  for (const std::string& line : listing.lines) d.out += "  " + line + "\n";
  d.out += "\n";
  if (d.m64) {
    printRows<uint64_t, int64_t>(d, section, cie, nullptr, nullptr, undefined.regs);
  } else {
    printRows<uint32_t, int32_t>(d, section, cie, nullptr, nullptr, undefined.regs);
  }
  d.out += "\n";
}

void printFde(Dump& d, dwarf_frame_reader* reader, dwarf_section* section, const dwarf_frame_entry& entry) {
  dzcrash_async_dwarf_fde_info fde;
  dzcrash_async_dwarf_cie_info cie;
  const dzcrash_error_t err = reader->parse_fde(entry.offset, &fde, &cie);
  const bool dwarf64 = entry.offset + 4 != fde.fde_offset && err == DZCRASH_OK;
  const int width = dwarf64 ? 16 : 8;
  d.out += format(
      "%08" PRIx64 " %0*" PRIx64 " %0*" PRIx64 " FDE cie=%08" PRIx64 " pc=%08" PRIx64 "...%08" PRIx64 "\n",
      entry.offset, width, entry.length, width, entry.id, fde.cie_offset, fde.pc_start, fde.pc_end);
  if (err != DZCRASH_OK) {
    d.out += std::string("  <the reader refused this FDE: ") + DZcrash_async_strerror(err) + ">\n\n";
    return;
  }
  d.out += format("  Format:       %s\n", dwarf64 ? "DWARF64" : "DWARF32");
  uint64_t lsda = 0;
  if (fdeLsda(d, section, entry.offset, fde, cie, &lsda)) {
    d.out += format("  LSDA Address: %016" PRIx64 "\n", lsda);
  }

  // The CIE's program first, for the registers it leaves undefined; then the FDE's.
  Undefined undefined;
  listProgram(d, section, cie, section->base_address() + cie.initial_instructions_offset,
              cie.initial_instructions_length, fde.pc_start, &undefined, {});
  const std::set<uint64_t> initialUndef = undefined.regs;
  undefined.remembered.clear();
  Listing listing = listProgram(d, section, cie, section->base_address() + fde.instructions_offset,
                                fde.instructions_length, fde.pc_start, &undefined, initialUndef);
  for (const std::string& line : listing.lines) d.out += "  " + line + "\n";
  d.out += "\n";
  // The state at the end of the program is the last row.
  listing.rows.push_back(listing.end);
  listing.undefinedAt.push_back(undefined.regs);
  if (d.m64) {
    printRows<uint64_t, int64_t>(d, section, cie, &fde, &listing, {});
  } else {
    printRows<uint32_t, int32_t>(d, section, cie, &fde, &listing, {});
  }
  d.out += "\n";
}

void dumpSection(Dump& d, uint64_t address, uint64_t size) {
  dwarf_section section;
  dwarf_frame_reader reader;
  if (section.init(d.task, address, size) != DZCRASH_OK ||
      reader.init(&section, d.byteorder, d.m64, d.debugFrame) != DZCRASH_OK) {
    d.out += "<the section cannot be read>\n";
    return;
  }
  uint64_t offset = 0;
  while (offset < size) {
    dwarf_frame_entry entry;
    if (reader.read_entry(offset, &entry) != DZCRASH_OK) {
      d.out += format("%08" PRIx64 " <the reader cannot read this entry's header>\n", offset);
      return;
    }
    if (entry.is_terminator) {
      d.out += format("%08" PRIx64 " ZERO terminator\n", offset);
    } else if (entry.is_cie) {
      printCie(d, &section, entry);
    } else {
      printFde(d, &reader, &section, entry);
    }
    offset = entry.next_offset;
  }
}

// The two sections of a file and how to read them.
struct FrameSections {
  const dzcrash_async_byteorder_t* byteorder = nullptr;
  bool m64 = false;
  Arch arch = Arch::Other;
  std::string format;
  // Each section gets a task of its own (an object file's sections all lie at address 0).
  struct Section {
    dzcrash_task_t task = nullptr;
    uint64_t address = 0;
    uint64_t size = 0;
  };
  Section debugFrame;
  Section ehFrame;
};

// An ELF file laid out for reading: each frame section at its address, in front of the load segments
// (which hold what indirect pointers point at). Relocations of an object file's frame sections are
// applied, as the linker would.
class ElfFile {
 public:
  bool load(std::vector<uint8_t> bytes, FrameSections* out, std::string* error) {
    bytes_ = std::move(bytes);
    if (bytes_.size() < sizeof(Elf64_Ehdr) || bytes_[EI_CLASS] != ELFCLASS64 ||
        bytes_[EI_DATA] != ELFDATA2LSB) {
      *error = "only 64-bit little-endian ELF files are read";
      return false;
    }
    std::memcpy(&ehdr_, bytes_.data(), sizeof(ehdr_));
    if (ehdr_.e_shentsize != sizeof(Elf64_Shdr) ||
        ehdr_.e_shoff + ehdr_.e_shnum * sizeof(Elf64_Shdr) > bytes_.size() ||
        ehdr_.e_shstrndx >= ehdr_.e_shnum) {
      *error = "the section headers are damaged";
      return false;
    }
    sections_.resize(ehdr_.e_shnum);
    std::memcpy(sections_.data(), bytes_.data() + ehdr_.e_shoff, ehdr_.e_shnum * sizeof(Elf64_Shdr));
    out->byteorder = DZcrash_async_byteorder_little_endian();
    out->m64 = true;
    out->arch = ehdr_.e_machine == EM_X86_64    ? Arch::X86_64
                : ehdr_.e_machine == EM_AARCH64 ? Arch::Arm64
                                                : Arch::Other;
    out->format = ehdr_.e_machine == EM_X86_64    ? "elf64-x86-64"
                  : ehdr_.e_machine == EM_AARCH64 ? "elf64-littleaarch64"
                                                  : "elf64-unknown";
    for (size_t i = 0; i < sections_.size(); ++i) {
      const std::string name = sectionName(sections_[i]);
      if (name == ".debug_frame") place(i, &out->debugFrame);
      if (name == ".eh_frame") place(i, &out->ehFrame);
    }
    return true;
  }

 private:
  std::string sectionName(const Elf64_Shdr& section) const {
    const Elf64_Shdr& names = sections_[ehdr_.e_shstrndx];
    const uint64_t at = names.sh_offset + section.sh_name;
    if (at >= bytes_.size()) return "";
    return std::string(reinterpret_cast<const char*>(bytes_.data() + at),
                       strnlen(reinterpret_cast<const char*>(bytes_.data() + at), bytes_.size() - at));
  }

  void place(size_t index, FrameSections::Section* out) {
    const Elf64_Shdr& section = sections_[index];
    if (section.sh_type == SHT_NOBITS || section.sh_offset + section.sh_size > bytes_.size()) return;
    std::vector<uint8_t> copy(
        bytes_.begin() + static_cast<std::ptrdiff_t>(section.sh_offset),
        bytes_.begin() + static_cast<std::ptrdiff_t>(section.sh_offset + section.sh_size));
    if (ehdr_.e_type == ET_REL) relocate(index, &copy);
    auto task = std::make_unique<Task>();
    task->bytes.push_back(std::move(copy));
    task->regions.push_back({section.sh_addr, task->bytes.back().data(), section.sh_size, true});
    Elf64_Phdr ph;
    for (uint16_t i = 0; i < ehdr_.e_phnum; ++i) {
      const uint64_t at = ehdr_.e_phoff + i * sizeof(ph);
      if (at + sizeof(ph) > bytes_.size()) break;
      std::memcpy(&ph, bytes_.data() + at, sizeof(ph));
      if (ph.p_type != PT_LOAD || ph.p_offset + ph.p_filesz > bytes_.size()) continue;
      std::vector<uint8_t> segment(bytes_.begin() + static_cast<std::ptrdiff_t>(ph.p_offset),
                                   bytes_.begin() + static_cast<std::ptrdiff_t>(ph.p_offset + ph.p_filesz));
      task->bytes.push_back(std::move(segment));
      task->regions.push_back({ph.p_vaddr, task->bytes.back().data(), ph.p_filesz, true});
    }
    DZcrash_task_init_buffer(&task->task, task->regions.data(), task->regions.size());
    out->task = &task->task;
    out->address = section.sh_addr;
    out->size = section.sh_size;
    tasks_.push_back(std::move(task));
  }

  // Applies the RELA section that targets section `index` (the x86-64 data relocations that frame
  // sections use).
  void relocate(size_t index, std::vector<uint8_t>* copy) const {
    for (const Elf64_Shdr& rela : sections_) {
      if (rela.sh_type != SHT_RELA || rela.sh_info != index || rela.sh_link >= sections_.size()) continue;
      const Elf64_Shdr& symtab = sections_[rela.sh_link];
      for (uint64_t at = rela.sh_offset; at + sizeof(Elf64_Rela) <= rela.sh_offset + rela.sh_size &&
                                         at + sizeof(Elf64_Rela) <= bytes_.size();
           at += sizeof(Elf64_Rela)) {
        Elf64_Rela r;
        std::memcpy(&r, bytes_.data() + at, sizeof(r));
        const uint64_t symAt = symtab.sh_offset + ELF64_R_SYM(r.r_info) * sizeof(Elf64_Sym);
        if (symAt + sizeof(Elf64_Sym) > bytes_.size()) continue;
        Elf64_Sym sym;
        std::memcpy(&sym, bytes_.data() + symAt, sizeof(sym));
        uint64_t value = sym.st_value + static_cast<uint64_t>(r.r_addend);
        if (sym.st_shndx < sections_.size()) value += sections_[sym.st_shndx].sh_addr;
        size_t width = 0;
        switch (ELF64_R_TYPE(r.r_info)) {
          case R_X86_64_64:
            width = 8;
            break;
          case R_X86_64_32:
          case R_X86_64_32S:
            width = 4;
            break;
          case R_X86_64_PC32:
            value -= sections_[index].sh_addr + r.r_offset;
            width = 4;
            break;
          default:
            break;
        }
        if (width != 0 && r.r_offset + width <= copy->size()) {
          std::memcpy(copy->data() + r.r_offset, &value, width);
        }
      }
    }
  }

  struct Task {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<dzcrash_task_region> regions;
    dzcrash_task task{};
  };

  std::vector<uint8_t> bytes_;
  Elf64_Ehdr ehdr_{};
  std::vector<Elf64_Shdr> sections_;
  std::vector<std::unique_ptr<Task>> tasks_;
};

bool dumpFile(const std::string& path, std::string* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FrameSections sections;
  ElfFile elf;
  std::unique_ptr<DZCrashMachOFile> macho;
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), ELFMAG, SELFMAG) == 0) {
    if (!elf.load(std::move(bytes), &sections, error)) return false;
  } else {
    macho = DZCrashMachOFile::fromBytes(std::move(bytes), DZCrashMachOFile::kAtTextVmaddr, error);
    if (macho == nullptr) return false;
    dzcrash_async_macho image;
    const dzcrash_error_t err =
        DZcrash_nasync_macho_init(&image, macho->task(), path.c_str(), macho->headerAddress());
    if (err != DZCRASH_OK) {
      *error = std::string("not a Mach-O image: ") + DZcrash_async_strerror(err);
      return false;
    }
    sections.byteorder = DZcrash_async_macho_byteorder(&image);
    sections.m64 = image.m64;
    switch (DZcrash_async_macho_cpu_type(&image)) {
      case DZCRASH_CPU_TYPE_X86_64:
        sections.arch = Arch::X86_64;
        sections.format = "Mach-O 64-bit x86-64";
        break;
      case DZCRASH_CPU_TYPE_X86:
        sections.arch = Arch::X86;
        sections.format = "Mach-O 32-bit i386";
        break;
      case DZCRASH_CPU_TYPE_ARM64:
        sections.arch = Arch::Arm64;
        sections.format = "Mach-O arm64";
        break;
      case DZCRASH_CPU_TYPE_ARM64_32:
        sections.arch = Arch::Arm64;
        sections.format = "Mach-O arm64 (ILP32)";
        break;
      case DZCRASH_CPU_TYPE_ARM:
        sections.format = "Mach-O arm";
        break;
      default:
        sections.format = "Mach-O unknown";
        break;
    }
    FrameSections::Section* targets[] = {&sections.debugFrame, &sections.ehFrame};
    const char* names[][2] = {{"__DWARF", "__debug_frame"}, {"__TEXT", "__eh_frame"}};
    for (int i = 0; i < 2; ++i) {
      if (DZcrash_async_macho_find_section(&image, names[i][0], names[i][1], &targets[i]->address,
                                           &targets[i]->size) == DZCRASH_OK) {
        targets[i]->task = macho->task();
      }
    }
    DZcrash_nasync_macho_free(&image);
  }

  Dump d{nullptr, sections.byteorder, sections.m64, true, sections.arch, {}};
  d.out = path + ":\tfile format " + sections.format + "\n\n.debug_frame contents:\n\n";
  if (sections.debugFrame.task != nullptr) {
    d.task = sections.debugFrame.task;
    dumpSection(d, sections.debugFrame.address, sections.debugFrame.size);
  }
  d.out += "\n.eh_frame contents:\n\n";
  if (sections.ehFrame.task != nullptr) {
    d.task = sections.ehFrame.task;
    d.debugFrame = false;
    dumpSection(d, sections.ehFrame.address, sections.ehFrame.size);
  }
  *out = std::move(d.out);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dzcrash-cfi-dump FILE\n");
    return 2;
  }
  std::string error;
  std::string out;
  if (!dumpFile(argv[1], &out, &error)) {
    std::fprintf(stderr, "dzcrash-cfi-dump: %s\n", error.c_str());
    return 1;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
