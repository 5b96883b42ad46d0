#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncTask.h"
#include "DZCrashReporter/core/DZCrashAsyncTaskCache.h"

using namespace dzcrash;

namespace {

constexpr uint64_t kBase = 0x100000;
constexpr uint64_t kPage = DZCRASH_TASK_CACHE_PAGE_SIZE;

// Regions with gaps, some ending inside a cache page, one unreadable: every way a read can stop.
class CachedBuffer : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_.resize(64 * kPage);
    for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<uint8_t>(i * 7 + i / 251);
    regions_ = {
        // Pages 0-39, except a gap of 8 bytes in the middle of page 2.
        {kBase, bytes_.data(), 2 * kPage + 100, true},
        {kBase + 2 * kPage + 108, bytes_.data() + 2 * kPage + 108, 38 * kPage - 108, true},
        // Ends in the middle of page 41; page 41's second half is unreadable, not unmapped.
        {kBase + 40 * kPage, bytes_.data() + 40 * kPage, kPage + kPage / 2, true},
        {kBase + 41 * kPage + kPage / 2, bytes_.data() + 41 * kPage + kPage / 2, kPage / 2, false},
    };
    DZcrash_task_init_buffer(&backing_, regions_.data(), regions_.size());
    DZcrash_task_cache_init(&cache_, &backing_);
    DZcrash_task_init_cached(&cached_, &cache_);
  }

  std::vector<uint8_t> bytes_;
  std::vector<dzcrash_task_region> regions_;
  dzcrash_task backing_{};
  dzcrash_task_cache cache_;
  dzcrash_task cached_{};
};

}  // namespace

TEST_F(CachedBuffer, AnswersExactlyAsTheTaskBehindIt) {
  struct Read {
    uint64_t offset;
    size_t length;
  };
  // Within a page, across pages, across the gap, up to and into the unreadable half, past the end,
  // long reads that bypass the cache, and enough distinct pages to recycle every slot twice.
  std::vector<Read> reads = {{0, 8},
                             {kPage - 4, 8},
                             {2 * kPage + 90, 8},
                             {2 * kPage + 100, 4},
                             {2 * kPage + 104, 8},
                             {2 * kPage + 108, 16},
                             {40 * kPage + kPage - 8, 16},
                             {41 * kPage + kPage / 2 - 4, 8},
                             {41 * kPage + kPage / 2, 4},
                             {42 * kPage, 4},
                             {kPage / 2, 3 * kPage},
                             {39 * kPage, 2 * kPage + 10}};
  for (uint64_t page = 0; page < 80; ++page) reads.push_back({(page % 40) * kPage + (page * 13) % kPage, 24});
  for (const Read& r : reads) {
    for (int pass = 0; pass < 2; ++pass) {  // the second pass is served from the copies
      std::vector<uint8_t> expected(r.length, 0xEE), actual(r.length, 0xEE);
      size_t expectedCopied = 0, actualCopied = 0;
      const dzcrash_error_t expectedErr = DZcrash_async_task_read_partial(
          &backing_, kBase + r.offset, expected.data(), r.length, &expectedCopied);
      const dzcrash_error_t actualErr =
          DZcrash_async_task_read_partial(&cached_, kBase + r.offset, actual.data(), r.length, &actualCopied);
      EXPECT_EQ(actualErr, expectedErr) << std::hex << r.offset << "+" << r.length << " pass " << pass;
      EXPECT_EQ(actualCopied, expectedCopied) << std::hex << r.offset << "+" << r.length << " pass " << pass;
      EXPECT_EQ(std::vector<uint8_t>(actual.begin(), actual.begin() + actualCopied),
                std::vector<uint8_t>(expected.begin(), expected.begin() + expectedCopied))
          << std::hex << r.offset << "+" << r.length;
    }
  }
  // The last page of the address space cannot be read in full without wrapping.
  uint8_t byte = 0;
  EXPECT_EQ(DZcrash_async_task_memcpy(&cached_, UINT64_MAX, 0, &byte, 1), DZCRASH_NOT_FOUND);
}

TEST_F(CachedBuffer, APageIsCopiedOnceAndKeptUntilReset) {
  uint32_t before = 0;
  ASSERT_EQ(DZcrash_async_task_read_uint32(&cached_, DZcrash_async_byteorder_little_endian(), kBase + 16, 0,
                                           &before),
            DZCRASH_OK);
  // The cache answers from its copy while the memory behind it changes...
  bytes_[16] ^= 0xFF;
  uint32_t again = 0;
  ASSERT_EQ(DZcrash_async_task_read_uint32(&cached_, DZcrash_async_byteorder_little_endian(), kBase + 16, 0,
                                           &again),
            DZCRASH_OK);
  EXPECT_EQ(again, before);
  // ...and a reset starts a new burst that sees the change.
  DZcrash_task_cache_init(&cache_, &backing_);
  ASSERT_EQ(DZcrash_async_task_read_uint32(&cached_, DZcrash_async_byteorder_little_endian(), kBase + 16, 0,
                                           &again),
            DZCRASH_OK);
  EXPECT_NE(again, before);
}
