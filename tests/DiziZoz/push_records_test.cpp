#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/integrations/DiziZozPushRecords.h"
#include "tests/support/TestEnvironment.h"

namespace {

using dizizoz::DiziZozPushPendingRecord;
using dizizoz::DiziZozPushPendingUnregister;
using dizizoz::DiziZozStorage;

class PushRecordsTest : public ::testing::Test {
 protected:
  std::shared_ptr<DiziZozStorage> open() {
    dizizoz::DiziZozStorageLocation where;
    where.applicationSupport = dir / "support" / "com.quorvelle.app";
    where.bundleIdentifier = "com.quorvelle.app";
    return DiziZozStorage::open(config, where);
  }
  void writeRaw(DiziZozStorage::StorageKey key, const std::string& text) {
    std::ofstream(storage->url(key), std::ios::binary) << text;
  }

  quorvelle::test::TempDir dir;
  dizizoz::DiziZozConfig config{"phc_token"};
  std::shared_ptr<DiziZozStorage> storage = open();
};

TEST_F(PushRecordsTest, RecordsRoundTripAndSurviveANewStorageOverTheSameFolder) {
  ASSERT_TRUE(storage);
  EXPECT_FALSE(dizizoz::loadPushRecord(*storage));
  const DiziZozPushPendingRecord fresh{"tok", "app", std::nullopt};
  dizizoz::writePushRecord(*storage, fresh);
  EXPECT_EQ(dizizoz::loadPushRecord(*storage), fresh);
  const DiziZozPushPendingRecord delivered{"tok", "app", "user-1"};
  dizizoz::writePushRecord(*storage, delivered);
  const DiziZozPushPendingUnregister pending{"old", "tok", "app"};
  dizizoz::writePushPendingUnregister(*storage, pending);

  auto reopened = open();
  EXPECT_EQ(dizizoz::loadPushRecord(*reopened), delivered);
  EXPECT_EQ(dizizoz::loadPushPendingUnregister(*reopened), pending);

  dizizoz::deletePushRecord(*reopened);
  dizizoz::deletePushPendingUnregister(*reopened);
  EXPECT_FALSE(dizizoz::loadPushRecord(*storage));
  EXPECT_FALSE(dizizoz::loadPushPendingUnregister(*storage));
}

TEST_F(PushRecordsTest, MalformedFilesCountAsNoRecord) {
  ASSERT_TRUE(storage);
  using Key = DiziZozStorage::StorageKey;
  const struct {
    const char* name;
    const char* text;
  } cases[] = {
      {"not JSON", "{deviceToken"},
      {"an array", R"(["tok","app"])"},
      {"a non-string value", R"({"deviceToken":"tok","appId":"app","deliveredForDistinctId":7})"},
      {"a required key missing", R"({"deviceToken":"tok","distinctId":"d"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeRaw(Key::pushSubscription, c.text);
    writeRaw(Key::pushPendingUnregister, c.text);
    EXPECT_FALSE(dizizoz::loadPushRecord(*storage));
    EXPECT_FALSE(dizizoz::loadPushPendingUnregister(*storage));
  }
}

TEST(PushBackoff, DoublesFromFiveSecondsUpToThirtyUnlessTheServiceSaysOtherwise) {
  EXPECT_EQ(dizizoz::pushBackoffSeconds(1, std::nullopt), 5.0);
  EXPECT_EQ(dizizoz::pushBackoffSeconds(2, std::nullopt), 10.0);
  EXPECT_EQ(dizizoz::pushBackoffSeconds(3, std::nullopt), 20.0);
  EXPECT_EQ(dizizoz::pushBackoffSeconds(4, std::nullopt), 30.0);
  EXPECT_EQ(dizizoz::pushBackoffSeconds(60, std::nullopt), 30.0);
  EXPECT_EQ(dizizoz::pushBackoffSeconds(1, 2.0), 2.0);
  EXPECT_EQ(dizizoz::pushBackoffSeconds(9, 2.0), 2.0);
}

}  // namespace
