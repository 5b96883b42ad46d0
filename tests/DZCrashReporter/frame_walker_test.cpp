#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"

using namespace dzcrash;

namespace {

constexpr uint64_t kStack = 0x7f0000;

dzcrash_async_thread_state stateWith(uint32_t cpu,
                                     std::initializer_list<std::pair<uint32_t, uint64_t>> regs) {
  dzcrash_async_thread_state s;
  DZcrash_async_thread_state_init(&s, cpu);
  for (const auto& [regnum, value] : regs) DZcrash_async_thread_state_set_reg(&s, regnum, value);
  return s;
}

// A reader that answers from a script: its result, and the instruction pointer it gives the next frame.
struct Script {
  dzframe_error_t result;
  uint64_t ip;
  int calls = 0;
  bool sawPrevious = false;
};
Script* gScript = nullptr;

dzframe_error_t scriptedReader(dzcrash_task_t, dzcrash_async_image_list*,
                               const dzcrash_async_thread_state* current,
                               const dzcrash_async_thread_state* previous, dzcrash_async_thread_state* next) {
  ++gScript->calls;
  gScript->sawPrevious = previous != nullptr;
  DZcrash_async_thread_state_copy(next, current);
  DZcrash_async_thread_state_set_reg(next, DZCRASH_REG_IP, gScript->ip);
  return gScript->result;
}

dzframe_error_t failingReader(dzcrash_task_t, dzcrash_async_image_list*, const dzcrash_async_thread_state*,
                              const dzcrash_async_thread_state*, dzcrash_async_thread_state*) {
  return DZFRAME_BAD_REGISTER;
}

// An image list that holds no images.
class EmptyImageList {
 public:
  EmptyImageList() {
    EXPECT_TRUE(DZcrash_nasync_image_list_init(&list_, DZcrash_async_task_self(), nullptr));
  }
  ~EmptyImageList() { DZcrash_nasync_image_list_free(&list_); }
  dzcrash_async_image_list* get() { return &list_; }

 private:
  dzcrash_async_image_list list_{};
};

}  // namespace

TEST(FrameWalker, ErrorTexts) {
  const char* texts[] = {"No error",        "Unknown error",           "No frames are available",
                         "Corrupted frame", "Operation not supported", "Invalid argument",
                         "Internal error",  "Invalid register"};
  for (int code = 0; code < 8; ++code) {
    EXPECT_STREQ(DZframe_strerror(static_cast<dzframe_error_t>(code)), texts[code]);
  }
  EXPECT_STREQ(DZframe_strerror(static_cast<dzframe_error_t>(8)), "Unhandled error code");
  EXPECT_STREQ(DZframe_strerror(static_cast<dzframe_error_t>(-1)), "Unhandled error code");
}

TEST(FrameWalker, FirstStepYieldsTheInitialStateAndLaterStepsAskTheReaders) {
  const dzcrash_async_thread_state initial =
      stateWith(DZCRASH_CPU_TYPE_X86_64, {{DZCRASH_X86_64_RIP, 0x401000}, {DZCRASH_X86_64_RAX, 7}});
  dzframe_cursor cursor;
  ASSERT_EQ(DZframe_cursor_init(&cursor, DZcrash_async_task_self(), &initial, nullptr), DZFRAME_OK);
  Script script{DZFRAME_OK, 0x402000};
  gScript = &script;
  const dzframe_cursor_frame_reader readers[] = {failingReader, scriptedReader};

  ASSERT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 2), DZFRAME_OK);
  EXPECT_EQ(script.calls, 0);
  EXPECT_EQ(cursor.depth, 1u);
  EXPECT_EQ(cursor.reader, nullptr);
  uint64_t value = 0;
  ASSERT_EQ(DZframe_cursor_get_reg(&cursor, DZCRASH_X86_64_RAX, &value), DZFRAME_OK);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(DZframe_cursor_get_reg(&cursor, DZCRASH_X86_64_RBX, &value), DZFRAME_NOT_SUPPORTED);
  EXPECT_STREQ(DZframe_cursor_get_regname(&cursor, DZCRASH_X86_64_RAX), "rax");
  EXPECT_EQ(DZframe_cursor_get_regcount(&cursor), 21u);

  EXPECT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 0), DZFRAME_INVALID_ARGUMENT);
  EXPECT_EQ(cursor.depth, 1u);

  // The second step asks the readers in order; the first frame has no previous frame.
  ASSERT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 2), DZFRAME_OK);
  EXPECT_EQ(script.calls, 1);
  EXPECT_FALSE(script.sawPrevious);
  EXPECT_EQ(cursor.depth, 2u);
  EXPECT_EQ(cursor.reader, scriptedReader);
  ASSERT_EQ(DZframe_cursor_get_reg(&cursor, DZCRASH_REG_IP, &value), DZFRAME_OK);
  EXPECT_EQ(value, 0x402000u);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&cursor.prev_frame, DZCRASH_REG_IP), 0x401000u);
  ASSERT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 2), DZFRAME_OK);
  EXPECT_TRUE(script.sawPrevious);

  // When every reader fails the last one's code comes back and the cursor stays where it was.
  script.result = DZFRAME_BAD_FRAME;
  EXPECT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 2), DZFRAME_BAD_FRAME);
  EXPECT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 1), DZFRAME_BAD_REGISTER);
  EXPECT_EQ(cursor.depth, 3u);
  DZframe_cursor_free(&cursor);
}

TEST(FrameWalker, ReturnAddressesInTheFirstPageEndTheWalk) {
  const uint64_t page = DZcrash_async_page_size();
  const dzcrash_async_thread_state initial =
      stateWith(DZCRASH_CPU_TYPE_X86_64, {{DZCRASH_X86_64_RIP, 0x401000}});
  const dzframe_cursor_frame_reader readers[] = {scriptedReader};
  for (const auto& [ip, expected] : {std::pair{uint64_t{0}, DZFRAME_NO_FRAME},
                                     std::pair{page, DZFRAME_NO_FRAME}, std::pair{page + 1, DZFRAME_OK}}) {
    dzframe_cursor cursor;
    DZframe_cursor_init(&cursor, DZcrash_async_task_self(), &initial, nullptr);
    Script script{DZFRAME_OK, ip};
    gScript = &script;
    ASSERT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 1), DZFRAME_OK);
    EXPECT_EQ(DZframe_cursor_next_with_readers(&cursor, readers, 1), expected) << ip;
    EXPECT_EQ(cursor.depth, expected == DZFRAME_OK ? 2u : 1u);
  }
}

TEST(FrameWalker, WalksTheFramePointerChainWhereNoUnwindInformationIsKnown) {
  // Three frames on a synthetic stack; the third frame's saved frame pointer goes back down.
  std::vector<uint64_t> words(64, 0);
  auto at = [&](uint64_t address) -> uint64_t& { return words[(address - kStack) / 8]; };
  const uint64_t f1 = kStack + 0x40, f2 = kStack + 0x80, f3 = kStack + 0x100;
  at(f1) = f2, at(f1 + 8) = 0x500002;
  at(f2) = f3, at(f2 + 8) = 0x500003;
  at(f3) = kStack + 0x20, at(f3 + 8) = 0x500004;
  const dzcrash_task_region region = {kStack, words.data(), words.size() * 8, true};
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, &region, 1);
  EmptyImageList images;

  const dzcrash_async_thread_state initial =
      stateWith(DZCRASH_CPU_TYPE_X86_64,
                {{DZCRASH_X86_64_RIP, 0x500001}, {DZCRASH_X86_64_RBP, f1}, {DZCRASH_X86_64_RSP, f1 - 8}});
  dzframe_cursor cursor;
  DZframe_cursor_init(&cursor, &task, &initial, images.get());
  std::vector<uint64_t> ips;
  dzframe_error_t err;
  uint64_t ip = 0;
  while ((err = DZframe_cursor_next(&cursor)) == DZFRAME_OK) {
    ASSERT_EQ(DZframe_cursor_get_reg(&cursor, DZCRASH_REG_IP, &ip), DZFRAME_OK);
    ips.push_back(ip);
    if (cursor.depth > 1) {
      EXPECT_EQ(cursor.reader, DZframe_cursor_read_frame_ptr);
      // Only the frame pointer and the instruction pointer are known on this path.
      uint64_t sp = 0;
      EXPECT_EQ(DZframe_cursor_get_reg(&cursor, DZCRASH_X86_64_RSP, &sp), DZFRAME_NOT_SUPPORTED);
      EXPECT_EQ(cursor.frame.valid_regs, (uint64_t{1} << DZCRASH_REG_IP) | (uint64_t{1} << DZCRASH_REG_FP));
    }
  }
  EXPECT_EQ(ips, (std::vector<uint64_t>{0x500001, 0x500002, 0x500003, 0x500004}));
  EXPECT_EQ(err, DZFRAME_BAD_FRAME) << "the chain went back down the stack";
}

TEST(FrameWalker, FramePointerReaderEdges) {
  std::vector<uint32_t> words(32, 0);
  words[4] = static_cast<uint32_t>(kStack + 0x40);
  words[5] = 0x8048123;
  const dzcrash_task_region region = {kStack, words.data(), words.size() * 4, true};
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, &region, 1);
  dzcrash_async_thread_state next;

  // x86 reads two 4-byte words.
  const dzcrash_async_thread_state x86 = stateWith(DZCRASH_CPU_TYPE_X86, {{DZCRASH_X86_EBP, kStack + 0x10}});
  ASSERT_EQ(DZframe_cursor_read_frame_ptr(&task, nullptr, &x86, nullptr, &next), DZFRAME_OK);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&next, DZCRASH_X86_EBP), kStack + 0x40);
  EXPECT_EQ(DZcrash_async_thread_state_get_reg(&next, DZCRASH_X86_EIP), 0x8048123u);

  // Equal frame pointers pass the direction check; lower ones do not.
  const dzcrash_async_thread_state same = x86;
  EXPECT_EQ(DZframe_cursor_read_frame_ptr(&task, nullptr, &x86, &same, &next), DZFRAME_OK);
  const dzcrash_async_thread_state above =
      stateWith(DZCRASH_CPU_TYPE_X86, {{DZCRASH_X86_EBP, kStack + 0x11}});
  EXPECT_EQ(DZframe_cursor_read_frame_ptr(&task, nullptr, &x86, &above, &next), DZFRAME_BAD_FRAME);
  // A stack that grows upward expects the opposite.
  dzcrash_async_thread_state upward = x86;
  upward.stack_direction = DZCRASH_STACK_DIRECTION_UP;
  EXPECT_EQ(DZframe_cursor_read_frame_ptr(&task, nullptr, &upward, &above, &next), DZFRAME_OK);

  const dzcrash_async_thread_state noFp = stateWith(DZCRASH_CPU_TYPE_X86, {{DZCRASH_X86_EIP, 1}});
  EXPECT_EQ(DZframe_cursor_read_frame_ptr(&task, nullptr, &noFp, nullptr, &next), DZFRAME_BAD_FRAME);
  const dzcrash_async_thread_state zeroFp = stateWith(DZCRASH_CPU_TYPE_X86, {{DZCRASH_X86_EBP, 0}});
  EXPECT_EQ(DZframe_cursor_read_frame_ptr(&task, nullptr, &zeroFp, nullptr, &next), DZFRAME_NO_FRAME);
  const dzcrash_async_thread_state unmapped = stateWith(DZCRASH_CPU_TYPE_X86, {{DZCRASH_X86_EBP, 0x1000}});
  EXPECT_EQ(DZframe_cursor_read_frame_ptr(&task, nullptr, &unmapped, nullptr, &next), DZFRAME_BAD_FRAME);
}

TEST(FrameWalker, ImageReadersNeedAnInstructionPointerAndAnImage) {
  EmptyImageList images;
  dzcrash_async_thread_state next;
  const dzcrash_async_thread_state noIp = stateWith(DZCRASH_CPU_TYPE_X86_64, {{DZCRASH_X86_64_RSP, 8}});
  const dzcrash_async_thread_state zeroIp = stateWith(DZCRASH_CPU_TYPE_X86_64, {{DZCRASH_X86_64_RIP, 0}});
  const dzcrash_async_thread_state nowhere =
      stateWith(DZCRASH_CPU_TYPE_X86_64, {{DZCRASH_X86_64_RIP, 0x1234}});
  for (const auto reader : {DZframe_cursor_read_compact_unwind, DZframe_cursor_read_dwarf_unwind}) {
    EXPECT_EQ(reader(DZcrash_async_task_self(), images.get(), &noIp, nullptr, &next), DZFRAME_BAD_FRAME);
    EXPECT_EQ(reader(DZcrash_async_task_self(), images.get(), &zeroIp, nullptr, &next),
              DZFRAME_NOT_SUPPORTED);
    EXPECT_EQ(reader(DZcrash_async_task_self(), images.get(), &nowhere, nullptr, &next),
              DZFRAME_NOT_SUPPORTED);
  }
}

TEST(FrameWalker, OneListHoldsElfAndMachOImagesAndCompactUnwindingSkipsElf) {
  dzcrash_async_image_list list;
  const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&list, DZcrash_async_task_self(), &parser));
  ASSERT_GT(DZcrash_nasync_image_list_add_loaded(&list), 0u);
  // Bytes that are neither format stay out.
  static const uint8_t junk[64] = {'J', 'U', 'N', 'K'};
  DZcrash_nasync_image_list_append(&list, reinterpret_cast<uint64_t>(junk), "junk");

  const uint64_t here = reinterpret_cast<uint64_t>(&scriptedReader);
  DZcrash_async_image_list_set_reading(&list, true);
  const dzcrash_async_image* own = DZcrash_async_image_containing_address(&list, here);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->format, DZCRASH_IMAGE_FORMAT_ELF);
  size_t images = 0;
  for (auto* image = DZcrash_async_image_list_next(&list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(&list, image)) {
    EXPECT_EQ(image->format, DZCRASH_IMAGE_FORMAT_ELF) << image->name;
    ++images;
  }
  DZcrash_async_image_list_set_reading(&list, false);
  EXPECT_GT(images, 1u);

  const dzcrash_async_thread_state inElf = stateWith(DZCRASH_CPU_TYPE_X86_64, {{DZCRASH_X86_64_RIP, here}});
  dzcrash_async_thread_state next;
  EXPECT_EQ(DZframe_cursor_read_compact_unwind(DZcrash_async_task_self(), &list, &inElf, nullptr, &next),
            DZFRAME_NOT_SUPPORTED);
  DZcrash_nasync_image_list_free(&list);
}
