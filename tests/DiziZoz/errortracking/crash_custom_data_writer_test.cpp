#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/errortracking/DiziZozCrashCustomDataWriter.h"
#include "tests/DiziZoz/CapturedLog.h"

namespace dizizoz {
namespace {

struct Written {
  std::vector<std::string> documents;
  DiziZozCrashCustomDataWriter::Write write() {
    return [this](std::vector<std::uint8_t> data) { documents.emplace_back(data.begin(), data.end()); };
  }
};

TEST(CrashCustomDataWriter, WritesEveryChangeAsOneCompactDocument) {
  Written written;
  DiziZozCrashCustomDataWriter writer(written.write());

  writer.setSteps({});
  ASSERT_EQ(written.documents.size(), 1u);
  EXPECT_EQ(written.documents[0], R"({"$exception_steps":[]})");

  const Properties context{{"distinct_id", "u1"}, {"event_properties", {{"$os", "Linux"}, {"n", 2}}}};
  writer.setContext(context);
  const Properties step{{"$message", "opened"}, {"$timestamp", "t"}};
  writer.setSteps({step});
  ASSERT_EQ(written.documents.size(), 3u);
  EXPECT_EQ(written.documents[2], R"({"$exception_steps":[{"$message":"opened","$timestamp":"t"}],)"
                                  R"("distinct_id":"u1","event_properties":{"$os":"Linux","n":2}})");

  // A new context replaces the old one whole and keeps the steps.
  writer.setContext({{"distinct_id", "u2"}});
  EXPECT_EQ(Properties::parse(written.documents.back()),
            (Properties{{"distinct_id", "u2"}, {"$exception_steps", {step}}}));
}

TEST(CrashCustomDataWriter, KeepsTheLastDocumentWhenTheNewOneCannotBeSerialised) {
  test::CapturedLog log;
  Written written;
  DiziZozCrashCustomDataWriter writer(written.write());
  writer.setContext({{"distinct_id", "u1"}});
  writer.setContext({{"distinct_id", "u1"}, {"bad", "\xff"}});
  EXPECT_EQ(written.documents.size(), 1u);
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                      "[DiziZoz] Failed to serialize exception steps customData"),
            log.lines.end());
}

// Writers of one process never write at the same time: the crash reporter has one slot.
TEST(CrashCustomDataWriter, WritesOfTwoWritersNeverOverlap) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto write = [&](std::vector<std::uint8_t>) {
    if (inside.fetch_add(1) != 0) overlapped = true;
    std::this_thread::yield();
    inside.fetch_sub(1);
  };
  DiziZozCrashCustomDataWriter first(write), second(write);
  auto run = [](DiziZozCrashCustomDataWriter& writer) {
    for (int i = 0; i < 500; ++i) writer.setSteps({{{"$message", std::to_string(i)}, {"$timestamp", "t"}}});
  };
  std::thread a(run, std::ref(first)), b(run, std::ref(second));
  a.join();
  b.join();
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace dizizoz
