#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

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

namespace {

// Real pages of this process: three readable, one PROT_NONE, one readable, one unmapped. A cache over
// the own process reads the readable ones in place, so every way a read can stop is met after a probe
// that reached past it.
class CachedSelf : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    void* p = mmap(nullptr, 6 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    base_ = static_cast<uint8_t*>(p);
    for (uint64_t i = 0; i < 5 * page_; ++i) base_[i] = static_cast<uint8_t>(i * 13 + i / 4093);
    ASSERT_EQ(mprotect(base_ + 3 * page_, page_, PROT_NONE), 0);
    ASSERT_EQ(munmap(base_ + 5 * page_, page_), 0);
    DZcrash_task_cache_init(&cache_, DZcrash_async_task_self());
    DZcrash_task_init_cached(&cached_, &cache_);
  }
  void TearDown() override { munmap(base_, 5 * page_); }

  uint64_t at(uint64_t offset) const { return reinterpret_cast<uint64_t>(base_) + offset; }

  uint64_t page_ = 0;
  uint8_t* base_ = nullptr;
  dzcrash_task_cache cache_;
  dzcrash_task cached_{};
};

}  // namespace

TEST_F(CachedSelf, AnswersExactlyAsTheOwnProcessDoes) {
  struct Read {
    uint64_t offset;
    size_t length;
  };
  const uint64_t p = page_;
  // Inside the first page (its probe reaches the PROT_NONE page), across readable pages, up to and into
  // the PROT_NONE page, the readable page beyond it, into the unmapped one, and long reads.
  const std::vector<Read> reads = {{8, 16},        {p - 4, 8},        {3 * p - 8, 8}, {3 * p - 8, 16},
                                   {3 * p, 4},     {4 * p + 100, 32}, {5 * p - 4, 8}, {5 * p, 8},
                                   {p / 2, 2 * p}, {0, 3 * p + 1},    {4 * p, p},     {2 * p + 1, 7}};
  for (const Read& r : reads) {
    for (int pass = 0; pass < 2; ++pass) {  // the second pass reads pages already probed
      std::vector<uint8_t> expected(r.length, 0xEE), actual(r.length, 0xEE);
      size_t expectedCopied = 0, actualCopied = 0;
      const dzcrash_error_t expectedErr = DZcrash_async_task_read_partial(
          DZcrash_async_task_self(), at(r.offset), expected.data(), r.length, &expectedCopied);
      const dzcrash_error_t actualErr =
          DZcrash_async_task_read_partial(&cached_, at(r.offset), actual.data(), r.length, &actualCopied);
      EXPECT_EQ(actualErr, expectedErr) << std::hex << r.offset << "+" << r.length << " pass " << pass;
      EXPECT_EQ(actualCopied, expectedCopied) << std::hex << r.offset << "+" << r.length << " pass " << pass;
      EXPECT_EQ(std::vector<uint8_t>(actual.begin(), actual.begin() + actualCopied),
                std::vector<uint8_t>(expected.begin(), expected.begin() + expectedCopied))
          << std::hex << r.offset << "+" << r.length;
    }
  }
}

TEST_F(CachedSelf, ReadsTheOwnProcessInPlaceOnceItsPagesAreKnown) {
  const dzcrash_async_byteorder_t* le = DZcrash_async_byteorder_little_endian();
  uint32_t before = 0;
  ASSERT_EQ(DZcrash_async_task_read_uint32(&cached_, le, at(16), 0, &before), DZCRASH_OK);
  // No copy is kept: a change shows at once.
  base_[16] ^= 0xFF;
  uint32_t again = 0;
  ASSERT_EQ(DZcrash_async_task_read_uint32(&cached_, le, at(16), 0, &again), DZCRASH_OK);
  EXPECT_EQ(again, before ^ 0xFFu);
}
