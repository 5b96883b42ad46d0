#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>
#include <cstdint>
#include <cstring>

#include "DZCrashReporter/core/DZCrashAsyncMObject.h"
#include "DZCrashReporter/core/DZCrashAsyncTask.h"

using namespace dzcrash;

namespace {

// Three adjacent pages of real memory: readable, PROT_NONE, unmapped.
class PageFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* p = mmap(nullptr, 3 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    base_ = static_cast<uint8_t*>(p);
    for (size_t i = 0; i < 2 * page_; ++i) base_[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
    ASSERT_EQ(munmap(base_ + 2 * page_, page_), 0);
  }
  void TearDown() override { munmap(base_, 2 * page_); }

  uint64_t readable() const { return reinterpret_cast<uint64_t>(base_); }
  uint64_t protNone() const { return readable() + page_; }
  uint64_t unmapped() const { return readable() + 2 * page_; }

  size_t page_ = 0;
  uint8_t* base_ = nullptr;
};

}  // namespace

TEST_F(PageFixture, CheckedReadsTellUnmappedFromUnreadable) {
  dzcrash_task procMem;
  DZcrash_task_init_self_proc_mem(&procMem);
  struct Case {
    const char* name;
    dzcrash_task_t task;
    uint64_t address;
    dzcrash_error_t expected;
  };
  const Case cases[] = {
      {"self readable", DZcrash_async_task_self(), readable() + 5, DZCRASH_OK},
      {"self PROT_NONE", DZcrash_async_task_self(), protNone() + 5, DZCRASH_ACCESS_DENIED},
      {"self unmapped", DZcrash_async_task_self(), unmapped() + 5, DZCRASH_NOT_FOUND},
      {"self null page", DZcrash_async_task_self(), 8, DZCRASH_NOT_FOUND},
      {"self kernel half", DZcrash_async_task_self(), 0xffff'ffff'ff60'0000ull + 0x1000'0000ull,
       DZCRASH_NOT_FOUND},
      {"/proc/self/mem readable", &procMem, readable() + 5, DZCRASH_OK},
      {"/proc/self/mem unmapped", &procMem, unmapped() + 5, DZCRASH_NOT_FOUND},
      {"/proc/self/mem upper half", &procMem, uint64_t{1} << 63, DZCRASH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    uint8_t buffer[16] = {};
    EXPECT_EQ(DZcrash_async_task_memcpy(c.task, c.address, 0, buffer, sizeof(buffer)), c.expected) << c.name;
    if (c.expected == DZCRASH_OK) {
      EXPECT_EQ(std::memcmp(buffer, base_ + 5, sizeof(buffer)), 0) << c.name;
    }
  }
}

TEST_F(PageFixture, ReadAcrossIntoABadPageStopsAtItsFirstByte) {
  std::vector<uint8_t> buffer(page_ * 2);
  size_t copied = 0;
  EXPECT_EQ(DZcrash_async_task_read_partial(DZcrash_async_task_self(), readable() + 100, buffer.data(), page_,
                                            &copied),
            DZCRASH_ACCESS_DENIED);
  EXPECT_EQ(copied, page_ - 100);
  EXPECT_EQ(std::memcmp(buffer.data(), base_ + 100, copied), 0);
}

TEST_F(PageFixture, OffsetsAreAppliedAndOverflowIsRefused) {
  uint8_t byte = 0;
  EXPECT_EQ(DZcrash_async_task_read_uint8(DZcrash_async_task_self(), protNone(), -3, &byte), DZCRASH_OK);
  EXPECT_EQ(byte, base_[page_ - 3]);
  EXPECT_EQ(DZcrash_async_task_read_uint8(DZcrash_async_task_self(), UINT64_MAX, 1, &byte),
            DZCRASH_NO_MEMORY);
  EXPECT_EQ(DZcrash_async_task_read_uint8(DZcrash_async_task_self(), 0, -1, &byte), DZCRASH_NO_MEMORY);
  // A range whose end wraps is refused without reading past the top.
  uint8_t two[2];
  EXPECT_EQ(DZcrash_async_task_memcpy(DZcrash_async_task_self(), UINT64_MAX, 0, two, 2), DZCRASH_NOT_FOUND);
}

TEST(AsyncTask, BufferTaskServesRegionsAtChosenAddresses) {
  const uint8_t first[4] = {0x11, 0x22, 0x33, 0x44};
  const uint8_t second[4] = {0x55, 0x66, 0x77, 0x88};
  const uint8_t secret[4] = {1, 2, 3, 4};
  const dzcrash_task_region regions[] = {
      {0x1000, first, sizeof(first), true},
      {0x1004, second, sizeof(second), true},
      {0x2000, secret, sizeof(secret), false},
  };
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, regions, 3);

  uint64_t value = 0;
  // One read spans both adjacent regions.
  EXPECT_EQ(DZcrash_async_task_read_uint64(&task, DZcrash_async_byteorder_little_endian(), 0x1000, 0, &value),
            DZCRASH_OK);
  EXPECT_EQ(value, 0x8877665544332211ull);
  EXPECT_EQ(DZcrash_async_task_read_uint64(&task, DZcrash_async_byteorder_big_endian(), 0x0ff0, 0x10, &value),
            DZCRASH_OK);
  EXPECT_EQ(value, 0x1122334455667788ull);
  uint32_t word = 0;
  EXPECT_EQ(DZcrash_async_task_read_uint32(&task, DZcrash_async_byteorder_big_endian(), 0x1002, 0, &word),
            DZCRASH_OK);
  EXPECT_EQ(word, 0x33445566u);
  uint16_t half = 0;
  EXPECT_EQ(DZcrash_async_task_read_uint16(&task, DZcrash_async_byteorder_little_endian(), 0x1007, 0, &half),
            DZCRASH_NOT_FOUND);
  EXPECT_EQ(DZcrash_async_task_read_uint16(&task, DZcrash_async_byteorder_little_endian(), 0x2000, 0, &half),
            DZCRASH_ACCESS_DENIED);
  EXPECT_EQ(DZcrash_async_task_read_uint16(&task, DZcrash_async_byteorder_little_endian(), 0x0fff, 0, &half),
            DZCRASH_NOT_FOUND);
}

TEST_F(PageFixture, MemoryObjectStopsAtTheFirstMissingPageUnlessFullIsRequired) {
  for (uint64_t second : {protNone(), unmapped()}) {
    // Only the page before `second` is readable in each layout below.
    const uint64_t start = second - page_ + 16;
    const size_t length = page_;
    if (second == unmapped()) {
      // Make the page before the unmapped one readable too, so the object covers exactly one page.
      ASSERT_EQ(mprotect(base_ + page_, page_, PROT_READ), 0);
    }
    dzcrash_async_mobject obj;
    ASSERT_EQ(DZcrash_async_mobject_init(&obj, DZcrash_async_task_self(), start, length, false), DZCRASH_OK);
    EXPECT_EQ(DZcrash_async_mobject_base_address(&obj), start);
    EXPECT_EQ(DZcrash_async_mobject_length(&obj), page_ - 16);
    EXPECT_EQ(DZcrash_async_mobject_task(&obj), DZcrash_async_task_self());

    uint8_t byte = 0;
    EXPECT_EQ(DZcrash_async_mobject_read_uint8(&obj, start, 0, &byte), DZCRASH_OK);
    EXPECT_EQ(byte, base_[start - readable()]);
    EXPECT_EQ(DZcrash_async_mobject_read_uint8(&obj, second, -1, &byte), DZCRASH_OK);
    EXPECT_EQ(DZcrash_async_mobject_read_uint8(&obj, second, 0, &byte), DZCRASH_INVALID_ARGUMENT);
    EXPECT_EQ(DZcrash_async_mobject_read_uint8(&obj, start, -1, &byte), DZCRASH_INVALID_ARGUMENT);
    uint32_t word = 0;
    EXPECT_EQ(
        DZcrash_async_mobject_read_uint32(&obj, DZcrash_async_byteorder_little_endian(), second, -3, &word),
        DZCRASH_INVALID_ARGUMENT);
    EXPECT_EQ(DZcrash_async_mobject_remap_address(&obj, start, INT64_MIN, 1), nullptr);
    EXPECT_EQ(DZcrash_async_mobject_remap_address(&obj, UINT64_MAX, 1, 1), nullptr);
    EXPECT_EQ(DZcrash_async_mobject_remap_address(&obj, start - 1, 1, 4),
              reinterpret_cast<void*>(obj.address));
    EXPECT_TRUE(DZcrash_async_mobject_verify_local_pointer(&obj, obj.address, 0, obj.length));
    EXPECT_FALSE(DZcrash_async_mobject_verify_local_pointer(&obj, obj.address, 1, obj.length));
    EXPECT_FALSE(DZcrash_async_mobject_verify_local_pointer(&obj, UINTPTR_MAX, 1, 1));
    DZcrash_async_mobject_free(&obj);

    EXPECT_EQ(DZcrash_async_mobject_init(&obj, DZcrash_async_task_self(), start, length, true),
              DZCRASH_NO_MEMORY);
    EXPECT_EQ(DZcrash_async_mobject_init(&obj, DZcrash_async_task_self(), second, 8, false),
              DZCRASH_NO_MEMORY);
  }
}

TEST_F(PageFixture, MemoryObjectIsACopyThatOutlivesTheSource) {
  dzcrash_async_mobject obj;
  ASSERT_EQ(DZcrash_async_mobject_init(&obj, DZcrash_async_task_self(), readable() + 8, 64, true),
            DZCRASH_OK);
  const uint8_t expected = base_[8];
  ASSERT_EQ(munmap(base_, page_), 0);
  uint8_t byte = 0;
  EXPECT_EQ(DZcrash_async_mobject_read_uint8(&obj, readable() + 8, 0, &byte), DZCRASH_OK);
  EXPECT_EQ(byte, expected);
  DZcrash_async_mobject_free(&obj);
  // TearDown unmaps both pages again; unmapping an unmapped range is harmless.
}

TEST(AsyncTask, MemoryObjectRefusesRangesThatWrapOrAreEmpty) {
  dzcrash_async_mobject obj;
  EXPECT_EQ(DZcrash_async_mobject_init(&obj, DZcrash_async_task_self(), UINT64_MAX - 10, 100, false),
            DZCRASH_NO_MEMORY);
  EXPECT_EQ(DZcrash_async_mobject_init(&obj, DZcrash_async_task_self(), 0x10000, 0, false),
            DZCRASH_NO_MEMORY);
}

TEST(AsyncTask, MemoryObjectOverABufferTaskReadsInForeignByteOrder) {
  uint8_t bytes[64] = {};
  bytes[40] = 0xFE;
  bytes[41] = 0xED;
  bytes[42] = 0xFA;
  bytes[43] = 0xCF;
  const dzcrash_task_region region = {0x7000'0000, bytes, sizeof(bytes), true};
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, &region, 1);
  dzcrash_async_mobject obj;
  ASSERT_EQ(DZcrash_async_mobject_init(&obj, &task, 0x7000'0000 + 8, 56, true), DZCRASH_OK);
  uint32_t magic = 0;
  EXPECT_EQ(
      DZcrash_async_mobject_read_uint32(&obj, DZcrash_async_byteorder_big_endian(), 0x7000'0000, 40, &magic),
      DZCRASH_OK);
  EXPECT_EQ(magic, 0xFEEDFACFu);
  EXPECT_EQ(obj.vm_slide, static_cast<int64_t>(0x7000'0000 + 8 - obj.address));
  DZcrash_async_mobject_free(&obj);
}
