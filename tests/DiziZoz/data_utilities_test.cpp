#include <gtest/gtest.h>
#include <sys/mman.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/Gzip.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/core/Versions.h"
#include "platform/Clock.h"
#include "tests/DiziZoz/CapturedLog.h"

namespace {

using namespace std::chrono;
using dizizoz::Date;
using dizizoz::Properties;
using dizizoz::Value;
namespace value = dizizoz::value;

using dizizoz::test::CapturedLog;

Date utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
  return time_point_cast<Date::duration>(sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} +
                                         seconds{s} + milliseconds{ms});
}

std::vector<std::uint8_t> gunzip(const std::vector<std::uint8_t>& compressed) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);  // gzip wrapper only
  std::vector<std::uint8_t> out(1 << 20);
  stream.next_in = const_cast<Bytef*>(compressed.data());
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

std::uint32_t littleEndian32(const std::uint8_t* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

TEST(Gzip, RoundTripsThroughInflateWithGzipHeaderAndTrailer) {
  // Incompressible input makes the output outgrow several 16384-byte steps.
  std::vector<std::uint8_t> noise(100 * 1024);
  std::mt19937 engine(7);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(engine());
  std::string text;
  while (text.size() < 100 * 1024) text += R"({"event":"onboarding_started","properties":{"step":1}},)";
  const std::vector<std::uint8_t> textBytes(text.begin(), text.end());

  for (const auto& input : {noise, textBytes}) {
    for (auto level :
         {dizizoz::CompressionLevel::defaultCompression(), dizizoz::CompressionLevel::noCompression(),
          dizizoz::CompressionLevel::bestSpeed(), dizizoz::CompressionLevel::bestCompression()}) {
      SCOPED_TRACE(level.rawValue);
      auto result = dizizoz::gzipped(input, level);
      ASSERT_TRUE(result.ok()) << result.error->message;
      const auto& out = result.data;
      ASSERT_GT(out.size(), 18u);
      EXPECT_EQ(out[0], 0x1f);
      EXPECT_EQ(out[1], 0x8b);
      EXPECT_EQ(out[2], 8);  // deflate
      const std::uint8_t* trailer = out.data() + out.size() - 8;
      EXPECT_EQ(littleEndian32(trailer), crc32(0, input.data(), static_cast<uInt>(input.size())));
      EXPECT_EQ(littleEndian32(trailer + 4), input.size());
      EXPECT_EQ(gunzip(out), input);
    }
  }
}

// The CRC-32 of `length` zero bytes, from zlib's combination of CRCs, without reading them.
uLong crcOfZeros(std::uint64_t length) {
  const std::uint8_t zero = 0;
  uLong result = crc32(0, nullptr, 0);
  uLong block = crc32(0, &zero, 1);  // the CRC of `blockLength` zeros
  std::uint64_t blockLength = 1;
  for (; length != 0; length >>= 1) {
    if (length & 1) result = crc32_combine(result, block, static_cast<z_off_t>(blockLength));
    block = crc32_combine(block, block, static_cast<z_off_t>(blockLength));
    blockLength *= 2;
  }
  return result;
}

// zlib counts input in 32 bits. The input is 4 GiB of untouched anonymous memory (the kernel's shared zero
// page: nothing is allocated) with a few marked bytes at its end; a count cut to 32 bits would compress
// only the first 1000 bytes, which the CRC in the trailer gives away.
TEST(Gzip, InputBeyondFourGibibytesIsCompressedWhole) {
  const std::size_t size = (std::size_t{1} << 32) + 1000;
  void* mapping =
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED) << "cannot reserve " << size << " bytes of address space";
  auto* input = static_cast<std::uint8_t*>(mapping);
  const std::string mark = "the end";
  std::copy(mark.begin(), mark.end(), input + size - mark.size());

  auto result =
      dizizoz::gzipped(std::span<const std::uint8_t>(input, size), dizizoz::CompressionLevel::bestSpeed());
  munmap(mapping, size);
  ASSERT_TRUE(result.ok()) << result.error->message;
  const auto& out = result.data;
  ASSERT_GT(out.size(), 18u);
  const std::uint8_t* trailer = out.data() + out.size() - 8;
  const uLong expectedCrc = crc32_combine(crcOfZeros(size - mark.size()),
                                          crc32(0, reinterpret_cast<const Bytef*>(mark.data()), mark.size()),
                                          static_cast<z_off_t>(mark.size()));
  EXPECT_EQ(littleEndian32(trailer), expectedCrc);
  EXPECT_EQ(littleEndian32(trailer + 4), static_cast<std::uint32_t>(size));
}

TEST(Gzip, EmptyInputAndZlibFailures) {
  auto empty = dizizoz::gzipped(std::string_view());
  EXPECT_TRUE(empty.ok());
  EXPECT_TRUE(empty.data.empty());

  auto badWindow =
      dizizoz::gzipped(std::string_view("abc"), dizizoz::CompressionLevel::defaultCompression(), 99);
  ASSERT_FALSE(badWindow.ok());
  EXPECT_EQ(badWindow.error->kind, dizizoz::GzipError::Kind::stream);
  EXPECT_EQ(badWindow.error->code, Z_STREAM_ERROR);
  EXPECT_TRUE(badWindow.data.empty());

  using Kind = dizizoz::GzipError::Kind;
  const std::pair<int, Kind> kinds[] = {{-2, Kind::stream}, {-3, Kind::data},    {-4, Kind::memory},
                                        {-5, Kind::buffer}, {-6, Kind::version}, {-1, Kind::unknown}};
  for (auto [code, kind] : kinds) EXPECT_EQ(dizizoz::GzipError::fromZlib(code, nullptr).kind, kind) << code;
  EXPECT_EQ(dizizoz::GzipError::fromZlib(-3, nullptr).message, "Unknown gzip error");
  EXPECT_EQ(dizizoz::GzipError::fromZlib(-3, "invalid stored block lengths").message,
            "invalid stored block lengths");
  EXPECT_EQ(dizizoz::GzipError::fromZlib(-3, "\xff\xfe").message, "Unknown gzip error");
}

TEST(DateFormats, Iso8601TextsReadAndWrite) {
  const Date precise = utc(2024, 1, 2, 3, 4, 5, 678) + microseconds(900);
  EXPECT_EQ(dizizoz::toISO8601String(precise), "2024-01-02T03:04:05.678Z");  // truncated, not rounded
  EXPECT_EQ(dizizoz::toInternetDateTimeString(precise), "2024-01-02T03:04:05Z");
  EXPECT_EQ(dizizoz::toISO8601String(Date(milliseconds(-1))), "1969-12-31T23:59:59.999Z");

  EXPECT_EQ(dizizoz::toISO8601Date("2024-01-02T03:04:05.678Z"), utc(2024, 1, 2, 3, 4, 5, 678));
  EXPECT_EQ(dizizoz::toISO8601Date("2024-01-02T03:04:05Z"), utc(2024, 1, 2, 3, 4, 5));
  EXPECT_EQ(dizizoz::toISO8601Date("2024-02-29T23:59:59Z"), utc(2024, 2, 29, 23, 59, 59));
  for (const char* bad :
       {"", "2024-01-02T03:04:05.67Z", "2024-01-02T03:04:05.6789Z", "2024-01-02 03:04:05Z",
        "2024-01-02T03:04:05", "2024-01-02T03:04:05+00:00", "2024-01-02T03:04:05Z ", "2023-02-29T00:00:00Z",
        "2024-13-01T00:00:00Z", "2024-01-01T24:00:00Z", "2024-01-01T00:60:00Z", "24-01-02T03:04:05Z"}) {
    EXPECT_FALSE(dizizoz::toISO8601Date(bad).has_value()) << bad;
  }
}

TEST(DateFormats, DatesBeyondTheClockRangeReadAsNothing) {
  // The clock counts nanoseconds in 64 bits (about 1678 to 2262); a stored record or a server header
  // naming a date outside that range must not wrap around into another date.
  EXPECT_EQ(dizizoz::toISO8601Date("2262-01-01T00:00:00Z"), utc(2262, 1, 1, 0, 0, 0));
  EXPECT_EQ(dizizoz::toISO8601Date("1678-01-01T00:00:00.000Z"), utc(1678, 1, 1, 0, 0, 0));
  for (const char* text :
       {"9999-12-31T23:59:59.999Z", "2263-01-01T00:00:00Z", "0001-01-01T00:00:00Z", "1600-06-15T12:00:00Z"}) {
    EXPECT_FALSE(dizizoz::toISO8601Date(text).has_value()) << text;
  }
  EXPECT_FALSE(dizizoz::parseHttpDate("Fri, 31 Dec 9999 23:59:59 GMT").has_value());
  EXPECT_FALSE(dizizoz::parseHttpDate("Mon, 01 Jan 0001 00:00:00 GMT").has_value());
}

TEST(DateFormats, NanosNowIsExactNanosecondsSinceTheEpoch) {
  struct FixedClock final : platform::Clock {
    system_clock::time_point now() const override {
      return system_clock::time_point(
          duration_cast<system_clock::duration>(nanoseconds(1700000000123456789)));
    }
    steady_clock::time_point monotonicNow() const override { return {}; }
  } clock;
  EXPECT_EQ(dizizoz::nanosNow(clock), "1700000000123456789");
}

TEST(DateFormats, RetryAfterAcceptsOnlyFiniteDecimalsAndHttpDates) {
  const Date now = utc(2015, 10, 21, 7, 28, 0);
  struct Case {
    const char* text;
    std::optional<double> seconds;
  };
  const Case cases[] = {
      {"120", 120.0},
      {"1.5", 1.5},
      {"0", 0.0},
      {"+5", 5.0},
      {"1e2", 100.0},
      {".5", 0.5},
      {"-3", std::nullopt},
      {" 5", std::nullopt},  // a leading blank: the date form is tried and fails
      {"5 ", std::nullopt},
      {"\t5", std::nullopt},
      {"", std::nullopt},
      {"abc", std::nullopt},
      // Forms a C parser would read: "inf" would pause a queue for the life of the process.
      {"inf", std::nullopt},
      {"Infinity", std::nullopt},
      {"nan", std::nullopt},
      {"0x10", std::nullopt},
      {"1e999", std::nullopt},
      {"1.", 1.0},
      {"1e", std::nullopt},
      {"Wed, 21 Oct 2015 07:28:10 GMT", 10.0},
      {"Wed, 21 Oct 2015 09:28:00 UTC", 7200.0},
      {"Wed, 21 Oct 2015 07:27:00 GMT", 0.0},  // past
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0.0},
      // Dates the clock cannot hold: a wait longer than it holds (the queue pauses as long as it can),
      // and a date long past.
      {"Fri, 31 Dec 9999 23:59:59 GMT", 251956888319.0},
      {"Mon, 01 Jan 0001 00:00:00 GMT", 0.0},
      {"Fri, 30 Feb 9999 00:00:00 GMT", std::nullopt},
      {"Wed, 32 Oct 2015 07:28:10 GMT", std::nullopt},
      {"Wed, 21 Foo 2015 07:28:10 GMT", std::nullopt},
      {"Wed, 21 Oct 2015 07:28:10 PST", std::nullopt},
      {"21 Oct 2015 07:28:10 GMT", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dizizoz::parseRetryAfter(c.text, now), c.seconds) << '"' << c.text << '"';
  }
  EXPECT_FALSE(std::signbit(*dizizoz::parseRetryAfter("-0", now)));
}

// Waits come from servers: one too long for the clock is the longest it can hold, never a wrap into the
// past.
TEST(DateFormats, AddingSecondsSaturatesAtTheLatestDate) {
  using dizizoz::Date;
  const Date now{std::chrono::seconds(1704067200)};
  const double room = std::chrono::duration<double>(Date::max() - now).count();
  struct Case {
    double seconds;
    Date expected;
  };
  const Case cases[] = {
      {0, now},
      {1.5, now + std::chrono::milliseconds(1500)},
      {-3, now},
      {std::numeric_limits<double>::quiet_NaN(), now},
      {1e20, Date::max()},
      {room, Date::max()},
      {std::numeric_limits<double>::infinity(), Date::max()},
  };
  for (const auto& c : cases) EXPECT_EQ(dizizoz::addingSeconds(now, c.seconds), c.expected) << c.seconds;
  EXPECT_GT(dizizoz::addingSeconds(now, room - 2), now);
}

TEST(JsonUtils, SanitiserKeepsJsonConvertsUrlsAndDatesAndDropsTheRest) {
  CapturedLog log;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Properties input = {
      {"text", "hello"},
      {"flag", true},
      {"count", -3},
      {"big", std::numeric_limits<std::uint64_t>::max()},
      {"ratio", 0.25},
      {"none", nullptr},
      {"list", {1, "two", {{"three", 3}}}},
      {"object", {{"k", "v"}}},
      {"url", value::url("https://example.com/a?b=1#c")},
      {"date", value::date(utc(2024, 1, 2, 3, 4, 5, 678))},
      {"nan", nan},
      {"inf", inf},
      {"negInf", -inf},
      {"opaque", value::opaque("a file handle")},
      {"rawBinary", Value::binary({1, 2, 3})},
      {"nanInList", {1.0, nan}},
      {"urlInObject", {{"u", value::url("https://example.com")}}},
      {"badText", "caf\xc3"},
  };
  auto result = dizizoz::sanitizeDictionary(input);
  ASSERT_TRUE(result.has_value());

  Properties expected = {
      {"text", "hello"},
      {"flag", true},
      {"count", -3},
      {"big", std::numeric_limits<std::uint64_t>::max()},
      {"ratio", 0.25},
      {"none", nullptr},
      {"list", {1, "two", {{"three", 3}}}},
      {"object", {{"k", "v"}}},
      {"url", "https://example.com/a?b=1#c"},
      {"date", "2024-01-02T03:04:05Z"},
  };
  EXPECT_EQ(*result, expected);
  // Keys are visited in the map's (sorted) order.
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "[DiziZoz] property: badText isn't serializable, dropping the item",
                           "[DiziZoz] property: inf isn't serializable, dropping the item",
                           "[DiziZoz] property: nan isn't serializable, dropping the item",
                           "[DiziZoz] property: nanInList isn't serializable, dropping the item",
                           "[DiziZoz] property: negInf isn't serializable, dropping the item",
                           "[DiziZoz] property: opaque isn't serializable, dropping the item",
                           "[DiziZoz] property: rawBinary isn't serializable, dropping the item",
                           "[DiziZoz] property: urlInObject isn't serializable, dropping the item",
                       }));

  EXPECT_FALSE(dizizoz::sanitizeDictionary(Properties::object()).has_value());
  EXPECT_FALSE(dizizoz::sanitizeDictionary(Properties()).has_value());
  EXPECT_FALSE(dizizoz::sanitizeDictionary(Properties::array({1})).has_value());
  // Everything dropped still leaves an (empty) map, as the dictionary was not empty.
  EXPECT_EQ(dizizoz::sanitizeDictionary({{"nan", nan}}), Properties::object());
}

TEST(JsonUtils, JsonDataWritesSanitisedTextAndReadsOnlyObjects) {
  CapturedLog log;
  auto data = dizizoz::toJSONData({{"b", 1}, {"a", value::url("https://x.test/")}, {"c", std::nan("")}});
  EXPECT_EQ(data, R"({"a":"https://x.test/","b":1})");
  EXPECT_FALSE(dizizoz::toJSONData(Properties::object()).has_value());
  EXPECT_EQ(dizizoz::toJSONData({{"a", 1}}, 1), "{\n \"a\": 1\n}");

  EXPECT_EQ(dizizoz::fromJSONData(R"({"a":[1,2],"b":{"c":null}})"),
            (Properties{{"a", {1, 2}}, {"b", {{"c", nullptr}}}}));
  log.lines.clear();
  for (const char* bad : {"", "[1,2]", "\"text\"", "42", "{", "{\"a\":1} trailing", "{\"a\":\"\xff\"}"}) {
    EXPECT_FALSE(dizizoz::fromJSONData(bad).has_value()) << bad;
  }
  EXPECT_TRUE(log.lines.empty());
}

TEST(JsonUtils, SanitiserDropsEntriesWhoseKeyOrAddressIsNotUtf8) {
  CapturedLog log;
  const Properties input = {
      {"kept", 1},
      {"bad\xffkey", 2},
      {"badUrl", value::url("https://example.com/caf\xc3")},
      {"url", value::url("https://example.com/caf\xc3\xa9")},
  };
  auto result = dizizoz::sanitizeDictionary(input);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, (Properties{{"kept", 1}, {"url", "https://example.com/caf\xc3\xa9"}}));
  EXPECT_NO_THROW((void)result->dump());
  // One bad entry must not cost the whole map its JSON form.
  EXPECT_EQ(dizizoz::toJSONData(input), "{\"kept\":1,\"url\":\"https://example.com/caf\xc3\xa9\"}");
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                      "[DiziZoz] property: badUrl isn't serializable, dropping the item"),
            log.lines.end());
}

// Copies, comparisons and writers of values recurse once per level: a value nested 100,000 levels deep,
// whether a caller's or read back from text, must be refused before any of them sees it.
TEST(JsonUtils, ValuesNestedTooDeeplyAreRefusedWithoutRecursion) {
  CapturedLog log;
  const auto nested = [](std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  Properties input = {{"kept", 1}};
  input["deep"] = Value::parse(nested(100'000));
  EXPECT_FALSE(dizizoz::isValidObject(input["deep"]));
  EXPECT_FALSE(dizizoz::isValidObject(input));
  EXPECT_EQ(dizizoz::sanitizeDictionary(input), (Properties{{"kept", 1}}));
  EXPECT_EQ(dizizoz::toJSONData(input), R"({"kept":1})");
  EXPECT_EQ(log.lines.back(), "[DiziZoz] property: deep isn't serializable, dropping the item");
  EXPECT_FALSE(dizizoz::fromJSONData(R"({"deep":)" + nested(100'000) + "}").has_value());

  // Nesting a real program could use is kept.
  input["deep"] = Value::parse(nested(100));
  EXPECT_TRUE(dizizoz::isValidObject(input));
  EXPECT_EQ(dizizoz::sanitizeDictionary(input), input);
  EXPECT_TRUE(dizizoz::fromJSONData(R"({"deep":)" + nested(100) + "}").has_value());
}

TEST(HedgeLog, PrintsPrefixedLinesOnlyWhileDebugIsOn) {
  CapturedLog log;
  dizizoz::hedgeLog("one");
  dizizoz::hedgeLog("[DiziZoz] DiziZoz is in OptOut state.");
  dizizoz::setHedgeLogEnabled(false);
  dizizoz::hedgeLog("hidden");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"[DiziZoz] one", "[DiziZoz] DiziZoz is in OptOut state."}));
}

TEST(Versions, BundleAndSystemVersionTexts) {
  const std::pair<const char*, Value> bundle[] = {
      {"42", 42},
      {"+7", 7},
      {"-12", -12},
      {"1.2", "1.2"},
      {"", ""},
      {"+", "+"},
      {"+-1", "+-1"},
      {" 1", " 1"},
      {"1a", "1a"},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"9223372036854775808", "9223372036854775808"},
  };
  for (const auto& [text, expected] : bundle) EXPECT_EQ(dizizoz::parseBundleVersion(text), expected) << text;

  const std::pair<const char*, const char*> versions[] = {
      {"12", "12.0.0"},     {"24.04", "24.4.0"},  {"6.1.0-18-amd64", "6.1.0"},
      {"1.2.3.4", "1.2.3"}, {"rolling", "0.0.0"},
  };
  for (const auto& [text, expected] : versions) EXPECT_EQ(dizizoz::normalizedVersion(text), expected) << text;
  const std::string os = dizizoz::osVersionString();
  EXPECT_EQ(dizizoz::normalizedVersion(os), os);

  EXPECT_EQ(dizizoz::appVersionString({{"CFBundleShortVersionString", "1.4.2"}}), "1.4.2");
  EXPECT_FALSE(dizizoz::appVersionString({{"CFBundleShortVersionString", 3}}).has_value());
  EXPECT_FALSE(dizizoz::appVersionString(Value::object()).has_value());
}

}  // namespace
