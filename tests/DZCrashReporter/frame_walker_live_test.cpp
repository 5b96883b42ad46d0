#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashMachOMapping.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

using namespace dzcrash;

#if defined(__x86_64__)

namespace {

const std::string kWalkLibrary =
    std::string(QUORVELLE_SOURCE_DIR) + "/tests/fixtures/macho/x86_64/libfx_walk.dylib";

// Calls fn(a0, a1, a2, a3) from a frame with a frame pointer; the call returns to
// dz_test_walk_harness_return.
extern "C" long dz_test_walk_harness(const void* fn, const void* a0, const void* a1, const void* a2,
                                     const void* a3);
extern "C" char dz_test_walk_harness_return[];
__asm__(R"(
  .pushsection .text
  .globl dz_test_walk_harness
  .globl dz_test_walk_harness_return
  .type dz_test_walk_harness, @function
dz_test_walk_harness:
  pushq %rbp
  movq %rsp, %rbp
  movq %rdi, %rax
  movq %rsi, %rdi
  movq %rdx, %rsi
  movq %rcx, %rdx
  movq %r8, %rcx
  callq *%rax
dz_test_walk_harness_return:
  popq %rbp
  ret
  .size dz_test_walk_harness, .-dz_test_walk_harness
  .popsection
)");

// Return addresses (offsets from the image base) of each function's calls, in order, as
// llvm-objdump -d shows them: the address of the instruction after the call.
std::map<std::string, std::vector<uint64_t>> returnAddresses(const std::string& disassembly) {
  std::ifstream in(disassembly);
  const std::regex label(R"(^(_\w+):$)");
  const std::regex instruction(R"(^\s+([0-9a-f]+):\s+(\S+))");
  std::map<std::string, std::vector<uint64_t>> out;
  std::string function, pendingCall;
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, label)) {
      function = m[1];
    } else if (std::regex_search(line, m, instruction)) {
      const uint64_t address = std::stoull(m[1], nullptr, 16);
      if (!pendingCall.empty()) out[pendingCall].push_back(address);
      pendingCall = m[2].str().rfind("call", 0) == 0 ? function : "";
    }
  }
  return out;
}

struct Frame {
  uint64_t ip;
  dzframe_cursor_frame_reader reader;
  dzcrash_async_thread_state state;
  // The word just below the frame's stack pointer while the walk ran; 0 without a stack pointer.
  uint64_t belowSp;
};

struct Walk {
  dzcrash_async_image_list* images;
  std::jmp_buf* escape;
  Frame frames[24];
  size_t count;
  dzframe_error_t end;
};

// Runs as the capture's callback, on the fixture's innermost frame.
dzcrash_error_t walkFromHere(dzcrash_async_thread_state* state, void* context) {
  auto* walk = static_cast<Walk*>(context);
  dzframe_cursor cursor;
  DZframe_cursor_init(&cursor, DZcrash_async_task_self(), state, walk->images);
  walk->count = 0;
  while (walk->count < sizeof(walk->frames) / sizeof(walk->frames[0]) &&
         (walk->end = DZframe_cursor_next(&cursor)) == DZFRAME_OK) {
    Frame& frame = walk->frames[walk->count++];
    frame.ip = DZcrash_async_thread_state_get_reg(&cursor.frame, DZCRASH_REG_IP);
    frame.reader = cursor.reader;
    frame.state = cursor.frame;
    frame.belowSp = 0;
    if (DZcrash_async_thread_state_has_reg(&cursor.frame, DZCRASH_REG_SP)) {
      DZcrash_async_task_memcpy(DZcrash_async_task_self(),
                                DZcrash_async_thread_state_get_reg(&cursor.frame, DZCRASH_REG_SP), -8,
                                &frame.belowSp, sizeof(frame.belowSp));
    }
  }
  DZframe_cursor_free(&cursor);
  if (walk->escape != nullptr) std::longjmp(*walk->escape, 1);
  return DZCRASH_OK;
}

void nameOf(uint64_t, const char* name, void* context) {
  *static_cast<std::string*>(context) = name;
}

class LiveWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    mapping_ = DZCrashMachOMapping::load(kWalkLibrary, &error);
    ASSERT_NE(mapping_, nullptr) << error;
    const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
    ASSERT_TRUE(DZcrash_nasync_image_list_init(&images_, DZcrash_async_task_self(), &parser));
    listReady_ = true;
    DZcrash_nasync_image_list_add_loaded(&images_);
    DZcrash_nasync_image_list_append(&images_, mapping_->headerAddress(), "libfx_walk.dylib");
    ASSERT_EQ(DZcrash_nasync_macho_init(&image_, DZcrash_async_task_self(), "libfx_walk.dylib",
                                        mapping_->headerAddress()),
              DZCRASH_OK);
    imageReady_ = true;
    calls_ = returnAddresses(kWalkLibrary + ".disassembly.txt");
  }
  void TearDown() override {
    if (imageReady_) DZcrash_nasync_macho_free(&image_);
    if (listReady_) DZcrash_nasync_image_list_free(&images_);
  }

  const void* function(const char* name) {
    uint64_t address = 0;
    EXPECT_EQ(DZcrash_async_macho_find_symbol_by_name(&image_, name, &address), DZCRASH_OK) << name;
    return reinterpret_cast<const void*>(address);
  }
  // The return address of a function's only (or last) call, slid to where the image runs.
  uint64_t returnAddress(const std::string& function) {
    EXPECT_FALSE(calls_[function].empty()) << function;
    return calls_[function].empty() ? 0 : calls_[function].back() + static_cast<uint64_t>(mapping_->slide());
  }
  std::string symbolAt(uint64_t pc) {
    std::string name;
    DZcrash_async_macho_find_symbol_by_pc(&image_, pc, nameOf, &name);
    return name;
  }

  std::unique_ptr<DZCrashMachOMapping> mapping_;
  dzcrash_async_image_list images_{};
  dzcrash_async_macho image_{};
  bool listReady_ = false;
  bool imageReady_ = false;
  std::map<std::string, std::vector<uint64_t>> calls_;
};

uint64_t reg(const Frame& frame, uint32_t regnum) {
  EXPECT_TRUE(DZcrash_async_thread_state_has_reg(&frame.state, regnum)) << regnum;
  return DZcrash_async_thread_state_get_reg(&frame.state, regnum);
}

}  // namespace

TEST_F(LiveWalk, EveryKindOfFrameUnwindsToTheDisassemblysReturnAddresses) {
  Walk walk{};
  walk.images = &images_;
  const long result = dz_test_walk_harness(function("_fx_walk_dwarf"),
                                           reinterpret_cast<const void*>(&DZcrash_async_thread_state_current),
                                           reinterpret_cast<const void*>(&walkFromHere), &walk, nullptr);
  (void)result;
  ASSERT_GE(walk.count, 6u) << DZframe_strerror(walk.end);

  const auto compact = DZframe_cursor_read_compact_unwind;
  const auto dwarf = DZframe_cursor_read_dwarf_unwind;
  const auto framePointer = DZframe_cursor_read_frame_ptr;
  struct Expected {
    uint64_t ip;
    dzframe_cursor_frame_reader reader;
    const char* what;
  };
  const Expected expected[] = {
      {returnAddress("_fx_walk_immediate"), nullptr, "the capture's caller"},
      {returnAddress("_fx_walk_indirect"), compact, "frameless, stack size in the encoding"},
      {returnAddress("_fx_walk_frame"), compact, "frameless, stack size in the code"},
      {returnAddress("_fx_walk_dwarf"), compact, "frame pointer with saved registers"},
      {reinterpret_cast<uint64_t>(dz_test_walk_harness_return), dwarf, "DWARF only"},
  };
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(walk.frames[i].ip, expected[i].ip) << "frame " << i << ": " << expected[i].what;
    EXPECT_EQ(walk.frames[i].reader, expected[i].reader) << "frame " << i << ": " << expected[i].what;
  }
  // Compact unwinding restores the stack pointer to just above the return address it read.
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(walk.frames[i].belowSp, walk.frames[i].ip) << "frame " << i;
  // The DWARF-mode function keeps its frame pointer in rbx and has pushed rbx and one more word: the
  // saved registers came back through three frames.
  const Frame& outer = walk.frames[3];
  EXPECT_EQ(reg(outer, DZCRASH_X86_64_RBX), reg(outer, DZCRASH_X86_64_RBP));
  EXPECT_EQ(reg(outer, DZCRASH_X86_64_RSP), reg(outer, DZCRASH_X86_64_RBP) - 16);
  // DWARF found the CFA through rbx and restored rbx and rbp: the harness frame's stack pointer is back
  // at its own frame pointer, where its return address was pushed.
  const Frame& harness = walk.frames[4];
  EXPECT_EQ(reg(harness, DZCRASH_X86_64_RSP), reg(outer, DZCRASH_X86_64_RBX) + 16);
  EXPECT_EQ(reg(harness, DZCRASH_X86_64_RSP), reg(harness, DZCRASH_X86_64_RBP));
  EXPECT_EQ(harness.belowSp, harness.ip);
  // The harness has no unwind information: the walk goes on by frame pointer.
  EXPECT_EQ(walk.frames[5].reader, framePointer);
}

TEST_F(LiveWalk, AFrameEndingInANoreturnCallUsesItsOwnFunctionsRules) {
  std::jmp_buf escape;
  // Static: the walk fills it between setjmp and longjmp.
  static Walk walk;
  walk = Walk{};
  walk.images = &images_;
  walk.escape = &escape;
  // _fx_walk_noreturn ends in a call to _fx_walk_immediate, which captures and walks; the walk leaves
  // by longjmp, since nothing may return into _fx_walk_noreturn.
  if (setjmp(escape) == 0) {
    dz_test_walk_harness(function("_fx_walk_noreturn"), function("_fx_walk_immediate"),
                         reinterpret_cast<const void*>(&DZcrash_async_thread_state_current),
                         reinterpret_cast<const void*>(&walkFromHere), &walk);
    FAIL() << "the walk returned into a function that cannot return";
  }
  ASSERT_GE(walk.count, 3u) << DZframe_strerror(walk.end);

  const uint64_t afterCall = returnAddress("_fx_walk_noreturn");
  // The fixture shows the case: the return address is the next function's first byte.
  EXPECT_EQ(afterCall, reinterpret_cast<uint64_t>(function("_fx_walk_after")));
  EXPECT_EQ(symbolAt(afterCall), "_fx_walk_after");

  EXPECT_EQ(walk.frames[0].ip, returnAddress("_fx_walk_immediate"));
  const Frame& noreturnFrame = walk.frames[1];
  EXPECT_EQ(noreturnFrame.ip, afterCall) << "the frame reports the return address as it is";
  EXPECT_EQ(symbolAt(noreturnFrame.ip - 1), "_fx_walk_noreturn");
  EXPECT_EQ(noreturnFrame.reader, DZframe_cursor_read_compact_unwind);
  EXPECT_EQ(walk.frames[2].ip, reinterpret_cast<uint64_t>(dz_test_walk_harness_return));
  EXPECT_EQ(walk.frames[2].reader, DZframe_cursor_read_compact_unwind);
}

#endif
