#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"
#include "platform/Random.h"

namespace {

using namespace std::chrono;
using dizizoz::Date;
using dizizoz::DiziZozEvent;
using dizizoz::Properties;
using dizizoz::Uuid;

// Local stand-ins until the shared manual clock and seeded random land in platform/fake.
class TestClock final : public platform::Clock {
 public:
  system_clock::time_point now() const override { return wall; }
  steady_clock::time_point monotonicNow() const override { return {}; }
  system_clock::time_point wall{};
};

class CountingRandom final : public platform::Random {
 public:
  bool fill(std::span<std::uint8_t> bytes) override {
    for (auto& b : bytes) b = static_cast<std::uint8_t>(++counter);
    return true;
  }
  unsigned counter = 0;
};

Date utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
  return time_point_cast<Date::duration>(sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} +
                                         seconds{s} + milliseconds{ms});
}

// Runs the test body with the process time zone set to something other than UTC.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

class EventRecordTest : public ::testing::Test {
 protected:
  std::optional<DiziZozEvent> read(const Properties& json) {
    return DiziZozEvent::fromJSON(json, clock, ids);
  }

  TestClock clock;
  CountingRandom random;
  dizizoz::TimeBasedEpochGenerator ids{clock, random};
  const Uuid upperId = *Uuid::fromString("0190A5D1-AC96-774B-BCCE-B302099A8057");
};

TEST_F(EventRecordTest, WritesExactlyTheWireKeysInUtcWhateverTheLocalZone) {
  ScopedTimeZone zone("IST-5:30");  // POSIX form: needs no time zone database
  DiziZozEvent event("$screen", "user-1", {{"$screen_name", "Home"}, {"$set", {{"plan", "pro"}}}},
                     utc(2024, 1, 2, 3, 4, 5, 6), upperId);
  const Properties expected{
      {"event", "$screen"},
      {"distinct_id", "user-1"},
      {"properties", {{"$screen_name", "Home"}, {"$set", {{"plan", "pro"}}}}},
      {"timestamp", "2024-01-02T03:04:05.006Z"},
      {"uuid", "0190a5d1-ac96-774b-bcce-b302099a8057"},
  };
  EXPECT_EQ(event.toJSON(), expected);

  event.apiKey = "phc_key";
  auto withKey = expected;
  withKey["api_key"] = "phc_key";
  EXPECT_EQ(event.toJSON(), withKey);
}

TEST_F(EventRecordTest, RoundTripKeepsEveryFieldWithTheTimeCutToMilliseconds) {
  ScopedTimeZone zone("PST8PDT");
  const Date precise = utc(2023, 12, 31, 23, 59, 59, 999) + microseconds(750);
  DiziZozEvent event("purchase", "d-1", {{"amount", 9.5}, {"tags", {"a", "b"}}, {"nested", {{"x", nullptr}}}},
                     precise, upperId, "key");
  auto back = read(event.toJSON());
  ASSERT_TRUE(back);
  auto expected = event;
  expected.timestamp = utc(2023, 12, 31, 23, 59, 59, 999);
  EXPECT_EQ(*back, expected);
}

TEST_F(EventRecordTest, ReadsOlderStoredForms) {
  clock.wall = utc(2025, 5, 6, 7, 8, 9, 10);
  const Uuid id = *Uuid::fromString("0190a5d1-ac96-774b-bcce-b302099a8057");
  const Uuid other = *Uuid::fromString("0190a5d1-0000-7000-8000-000000000001");

  // Seconds-only timestamp, id under the legacy key.
  auto legacy = read({{"event", "e"},
                      {"distinct_id", "d"},
                      {"timestamp", "2024-01-02T03:04:05Z"},
                      {"message_id", id.toString()}});
  ASSERT_TRUE(legacy);
  EXPECT_EQ(legacy->timestamp, utc(2024, 1, 2, 3, 4, 5));
  EXPECT_EQ(legacy->uuid, id);

  // "uuid" wins over "message_id".
  auto both =
      read({{"event", "e"}, {"distinct_id", "d"}, {"uuid", id.toString()}, {"message_id", other.toString()}});
  EXPECT_EQ(both->uuid, id);

  // A top-level "$set" replaces the one inside the properties; the distinct id may come from there too.
  auto set = read({{"event", "x"},
                   {"properties", {{"distinct_id", "p"}, {"$set", {{"old", 1}}}, {"k", "v"}}},
                   {"$set", {{"new", 2}}}});
  ASSERT_TRUE(set);
  EXPECT_EQ(set->distinctId, "p");
  EXPECT_EQ(set->properties, (Properties{{"distinct_id", "p"}, {"$set", {{"new", 2}}}, {"k", "v"}}));
  EXPECT_EQ(set->timestamp, clock.wall);  // no timestamp: now
  EXPECT_EQ(set->uuid.version(), 7);
  EXPECT_FALSE(set->apiKey);
  // Once read, the person properties are written inside "properties" only.
  EXPECT_FALSE(set->toJSON().contains("$set"));
  EXPECT_FALSE(set->toJSON().contains("message_id"));
}

TEST_F(EventRecordTest, MalformedTimeOrIdIsReplacedNotRefused) {
  clock.wall = utc(2025, 1, 1, 0, 0, 0);
  struct Case {
    Properties timestamp;  // null: key left out
    Properties uuid;
  };
  const std::vector<Case> cases{
      {"2024-01-02 03:04:05", "not-a-uuid"},
      {"2024-01-02T03:04:05.1Z", 42},
      {"2024-01-02T03:04:05+01:00", nullptr},
      {12345, "0190a5d1ac96774bbcceb302099a8057"},
  };
  for (const auto& c : cases) {
    Properties json{{"event", "e"}, {"distinct_id", "d"}, {"timestamp", c.timestamp}};
    if (!c.uuid.is_null()) json["uuid"] = c.uuid;
    auto event = read(json);
    ASSERT_TRUE(event) << json;
    EXPECT_EQ(event->timestamp, clock.wall) << json;
    EXPECT_EQ(event->uuid.version(), 7) << json;
  }
}

TEST_F(EventRecordTest, RefusesObjectsThatCannotBeEvents) {
  const std::vector<Properties> cases{
      Properties::object(),
      {{"event", 5}, {"distinct_id", "d"}},
      {{"distinct_id", "d"}},
      {{"event", "e"}},
      {{"event", "e"}, {"distinct_id", 7}, {"properties", {{"distinct_id", 8}}}},
      {{"event", "e"}, {"properties", "distinct_id"}},
      Properties::array({"event", "e"}),
  };
  for (const auto& json : cases) EXPECT_FALSE(read(json)) << json;
}

TEST(KnownUnsafeEditableEventTest, WholeCaseSensitiveNames) {
  const std::vector<std::string> names{
      "$snapshot",    "$screen",   "$set",           "survey dismissed", "survey sent",
      "survey shown", "$identify", "$groupidentify", "$create_alias",    "$feature_flag_called"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto found = dizizoz::knownUnsafeEditableEvent(names[i]);
    ASSERT_TRUE(found) << names[i];
    EXPECT_EQ(static_cast<std::size_t>(*found), i);
    EXPECT_EQ(dizizoz::rawValue(*found), names[i]);
  }
  for (const char* other : {"$Screen", "$screen ", "survey", "", "$pageview"}) {
    EXPECT_FALSE(dizizoz::knownUnsafeEditableEvent(other)) << other;
  }
}

}  // namespace
