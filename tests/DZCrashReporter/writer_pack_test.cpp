#include <gtest/gtest.h>

#include <protobuf-c/protobuf-c.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashWriterPack.h"
#include "tests/DZCrashReporter/MemoryReportFile.h"
#include "tests/support/CaseName.h"

using namespace dzcrash;
using dzcrash::test::MemoryReportFile;

namespace {

struct PackCase {
  std::string name;
  uint32_t field;
  ProtobufCType type;
  // The value's bytes as DZcrash_writer_pack reads them.
  std::vector<uint8_t> value;
  std::vector<uint8_t> expected;
};

void PrintTo(const PackCase& c, std::ostream* os) {
  *os << c.name;
}

template <class T>
std::vector<uint8_t> bytesOf(T value) {
  std::vector<uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &value, sizeof(T));
  return out;
}

// The wire bytes come from the protobuf encoding rules, worked out by hand.
const PackCase kCases[] = {
    {"uint64 zero", 1, PROTOBUF_C_TYPE_UINT64, bytesOf<uint64_t>(0), {0x08, 0x00}},
    {"uint64 one byte", 1, PROTOBUF_C_TYPE_UINT64, bytesOf<uint64_t>(127), {0x08, 0x7F}},
    {"uint64 two bytes", 1, PROTOBUF_C_TYPE_UINT64, bytesOf<uint64_t>(300), {0x08, 0xAC, 0x02}},
    {"uint64 max",
     2,
     PROTOBUF_C_TYPE_UINT64,
     bytesOf<uint64_t>(UINT64_MAX),
     {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
    {"int64 negative",
     1,
     PROTOBUF_C_TYPE_INT64,
     bytesOf<int64_t>(-2),
     {0x08, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
    {"int32 positive", 3, PROTOBUF_C_TYPE_INT32, bytesOf<int32_t>(150), {0x18, 0x96, 0x01}},
    {"int32 negative takes ten bytes",
     3,
     PROTOBUF_C_TYPE_INT32,
     bytesOf<int32_t>(-1),
     {0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
    {"uint32 max",
     1,
     PROTOBUF_C_TYPE_UINT32,
     bytesOf<uint32_t>(UINT32_MAX),
     {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
    {"enum", 1, PROTOBUF_C_TYPE_ENUM, bytesOf<uint32_t>(3), {0x08, 0x03}},
    {"sint32 minus one", 1, PROTOBUF_C_TYPE_SINT32, bytesOf<int32_t>(-1), {0x08, 0x01}},
    {"sint32 one", 1, PROTOBUF_C_TYPE_SINT32, bytesOf<int32_t>(1), {0x08, 0x02}},
    {"sint32 min",
     1,
     PROTOBUF_C_TYPE_SINT32,
     bytesOf<int32_t>(INT32_MIN),
     {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
    {"sint64 minus two", 1, PROTOBUF_C_TYPE_SINT64, bytesOf<int64_t>(-2), {0x08, 0x03}},
    {"sint64 max",
     1,
     PROTOBUF_C_TYPE_SINT64,
     bytesOf<int64_t>(INT64_MAX),
     {0x08, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
    {"fixed32", 1, PROTOBUF_C_TYPE_FIXED32, bytesOf<uint32_t>(0x01020304), {0x0D, 0x04, 0x03, 0x02, 0x01}},
    {"sfixed32", 1, PROTOBUF_C_TYPE_SFIXED32, bytesOf<int32_t>(-2), {0x0D, 0xFE, 0xFF, 0xFF, 0xFF}},
    {"float", 1, PROTOBUF_C_TYPE_FLOAT, bytesOf<float>(1.0f), {0x0D, 0x00, 0x00, 0x80, 0x3F}},
    {"fixed64",
     1,
     PROTOBUF_C_TYPE_FIXED64,
     bytesOf<uint64_t>(0x0102030405060708),
     {0x09, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
    {"sfixed64",
     1,
     PROTOBUF_C_TYPE_SFIXED64,
     bytesOf<int64_t>(-1),
     {0x09, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"double", 1, PROTOBUF_C_TYPE_DOUBLE, bytesOf<double>(1.0), {0x09, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    {"bool true", 6, PROTOBUF_C_TYPE_BOOL, bytesOf<bool>(true), {0x30, 0x01}},
    {"bool false", 6, PROTOBUF_C_TYPE_BOOL, bytesOf<bool>(false), {0x30, 0x00}},
    {"string", 1, PROTOBUF_C_TYPE_STRING, {'a', 'b', 'c', 0}, {0x0A, 0x03, 'a', 'b', 'c'}},
    {"empty string", 5, PROTOBUF_C_TYPE_STRING, {0}, {0x2A, 0x00}},
    {"message head", 4, PROTOBUF_C_TYPE_MESSAGE, bytesOf<uint32_t>(200), {0x22, 0xC8, 0x01}},
    {"field 15 keeps a one-byte tag", 15, PROTOBUF_C_TYPE_UINT64, bytesOf<uint64_t>(1), {0x78, 0x01}},
    {"field 16 takes a two-byte tag", 16, PROTOBUF_C_TYPE_UINT64, bytesOf<uint64_t>(1), {0x80, 0x01, 0x01}},
    {"field 2^29 overflows a 32-bit tag",
     1u << 29,
     PROTOBUF_C_TYPE_UINT64,
     bytesOf<uint64_t>(1),
     {0x80, 0x80, 0x80, 0x80, 0x10, 0x01}},
};

class WriterPack : public ::testing::TestWithParam<PackCase> {};

}  // namespace

TEST_P(WriterPack, WritesTheWireBytesAndSizesThemWithoutAFile) {
  const PackCase& c = GetParam();
  MemoryReportFile out;
  EXPECT_EQ(DZcrash_writer_pack(nullptr, c.field, c.type, c.value.data()), c.expected.size());
  EXPECT_EQ(DZcrash_writer_pack(out.file(), c.field, c.type, c.value.data()), c.expected.size());
  EXPECT_EQ(out.bytes(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriterPack, ::testing::ValuesIn(kCases), quorvelle::test::NamedCase());

TEST(WriterPackBytes, WritesTheLengthThenTheBytes) {
  uint8_t data[200];
  for (size_t i = 0; i < sizeof(data); ++i) data[i] = static_cast<uint8_t>(i);
  const ProtobufCBinaryData value = {sizeof(data), data};
  MemoryReportFile out;
  EXPECT_EQ(DZcrash_writer_pack(out.file(), 10, PROTOBUF_C_TYPE_BYTES, &value), 3 + sizeof(data));
  std::vector<uint8_t> expected = {0x52, 0xC8, 0x01};
  expected.insert(expected.end(), data, data + sizeof(data));
  EXPECT_EQ(out.bytes(), expected);
}

// A nested message is sized without a file, then written: the size in its head matches its body.
TEST(WriterPackMessage, SizesTheBodyBeforeWritingIt) {
  MemoryReportFile out;
  int bodyRuns = 0;
  const size_t size = DZcrash_writer_pack_message(out.file(), 3, [&](dzcrash_async_file_t* f) {
    ++bodyRuns;
    const uint64_t pc = 0x1234;
    return DZcrash_writer_pack(f, 3, PROTOBUF_C_TYPE_UINT64, &pc) +
           DZcrash_writer_pack(f, 1, PROTOBUF_C_TYPE_STRING, "x");
  });
  EXPECT_EQ(bodyRuns, 2);
  const std::vector<uint8_t> expected = {0x1A, 0x06, 0x18, 0xB4, 0x24, 0x0A, 0x01, 'x'};
  EXPECT_EQ(size, expected.size());
  EXPECT_EQ(out.bytes(), expected);
}
