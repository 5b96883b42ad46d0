#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "DZCrashReporter/core/DZCrashAsync.h"

using namespace dzcrash;

TEST(AsyncCore, ErrorTextsCoverTheTableAndNothingBeyond) {
  EXPECT_STREQ(DZcrash_async_strerror(DZCRASH_OK), "No error");
  EXPECT_STREQ(DZcrash_async_strerror(DZCRASH_ACCESS_DENIED), "Access denied");
  EXPECT_STREQ(DZcrash_async_strerror(DZCRASH_INVALID_DATA),
               "The input data is in an unknown or invalid format.");
  EXPECT_STREQ(DZcrash_async_strerror(static_cast<dzcrash_error_t>(10)), "Unhandled error code");
  EXPECT_STREQ(DZcrash_async_strerror(static_cast<dzcrash_error_t>(-1)), "Unhandled error code");
}

TEST(AsyncCore, ApplyOffsetRefusesEveryWrap) {
  struct Case {
    uint64_t address;
    int64_t offset;
    bool ok;
    uint64_t result;
  };
  const Case cases[] = {
      {UINT64_MAX, 1, false, 0},
      {0, -1, false, 0},
      {1, -1, true, 0},
      {UINT64_MAX - 1, 1, true, UINT64_MAX},
      {UINT64_MAX, INT64_MIN, true, UINT64_MAX - (uint64_t{1} << 63)},
      {(uint64_t{1} << 63) - 1, INT64_MIN, false, 0},
      {1000, INT64_MAX, true, 1000 + uint64_t{INT64_MAX}},
  };
  for (const Case& c : cases) {
    uint64_t result = 12345;
    EXPECT_EQ(DZcrash_async_address_apply_offset(c.address, c.offset, &result), c.ok)
        << c.address << " + " << c.offset;
    if (c.ok) {
      EXPECT_EQ(result, c.result);
    }
  }
  EXPECT_TRUE(DZcrash_async_address_apply_offset(1, 2, nullptr));
}

TEST(AsyncCore, ByteOrderTablesMatchTheHost) {
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint32_t raw32 = 0;
  uint64_t raw64 = 0;
  uint16_t raw16 = 0;
  std::memcpy(&raw16, bytes, 2);
  std::memcpy(&raw32, bytes, 4);
  std::memcpy(&raw64, bytes, 8);
  const auto* little = DZcrash_async_byteorder_little_endian();
  const auto* big = DZcrash_async_byteorder_big_endian();
  EXPECT_EQ(little->swap16(raw16), 0x0201);
  EXPECT_EQ(big->swap16(raw16), 0x0102);
  EXPECT_EQ(little->swap32(raw32), 0x04030201u);
  EXPECT_EQ(big->swap32(raw32), 0x01020304u);
  EXPECT_EQ(little->swap64(raw64), 0x0807060504030201ull);
  EXPECT_EQ(big->swap64(raw64), 0x0102030405060708ull);
}

TEST(AsyncCore, StringComparisonsUseUnsignedBytes) {
  EXPECT_EQ(DZcrash_async_strcmp("abc", "abc"), 0);
  EXPECT_LT(DZcrash_async_strcmp("ab", "abc"), 0);
  EXPECT_GT(DZcrash_async_strcmp("\xff", "a"), 0);
  EXPECT_EQ(DZcrash_async_strncmp("__TEXT_x", "__TEXT_y", 7), 0);
  EXPECT_NE(DZcrash_async_strncmp("__TEXT_x", "__TEXT_y", 8), 0);
  EXPECT_EQ(DZcrash_async_strncmp("ab", "ab", 16), 0);
  EXPECT_EQ(DZcrash_async_strncmp("x", "y", 0), 0);
}
