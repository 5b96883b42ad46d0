#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/delivery/DiziZozReplayQueue.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualSerialQueue.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/DiziZoz/QueueTestFolder.h"

namespace {

using dizizoz::DiziZozEvent;
using dizizoz::DiziZozReplayQueue;
using dizizoz::DiziZozStorage;
using dizizoz::QueueEndpoint;
using dizizoz::test::CapturedLog;
namespace fs = std::filesystem;

class Delegate final : public dizizoz::DiziZozReplayBufferDelegate {
 public:
  bool buffering = true;
  int told = 0;
  bool isBuffering() const override { return buffering; }
  void replayQueueDidBuffer(DiziZozReplayQueue&) override { ++told; }
};

class ReplayQueueTest : public ::testing::Test {
 protected:
  ReplayQueueTest() : executor(clock) {}
  ~ReplayQueueTest() override { replay.reset(); }
  void open() {
    auto endpoint = QueueEndpoint<DiziZozEvent>::snapshot(nullptr);
    endpoint.send = [this](std::vector<DiziZozEvent> records, QueueEndpoint<DiziZozEvent>::Completion) {
      sent.push_back(std::move(records));
    };
    DiziZozReplayQueue::Environment environment;
    environment.mainExecutor = &executor;
    environment.makeSerialQueue = [this](const std::string&) { return serial; };
    environment.clock = &clock;
    replay = std::make_unique<DiziZozReplayQueue>(config, *storage, endpoint, nullptr, environment);
  }
  static DiziZozEvent snapshot() {
    return DiziZozEvent("$snapshot", "device-1", dizizoz::Properties::object(),
                        dizizoz::Date{std::chrono::seconds(1704067200)},
                        dizizoz::TimeBasedEpochGenerator::shared().v7());
  }
  fs::path bufferFolder() const { return storage->url(DiziZozStorage::StorageKey::replayBufferQueue); }

  dizizoz::DiziZozConfig config{"key"};
  platform::fake::ManualClock clock;
  platform::fake::ManualExecutor executor;
  std::shared_ptr<platform::fake::ManualSerialQueue> serial =
      std::make_shared<platform::fake::ManualSerialQueue>();
  dizizoz::test::QueueTestFolder files{config};
  std::shared_ptr<DiziZozStorage> storage = files.storage;
  std::vector<std::vector<DiziZozEvent>> sent;
  std::unique_ptr<DiziZozReplayQueue> replay;
};

TEST_F(ReplayQueueTest, WithoutABufferingDelegateEventsAreUploaded) {
  open();
  auto delegate = std::make_shared<Delegate>();
  delegate->buffering = false;
  replay->setBufferDelegate(delegate);
  replay->add(snapshot());
  replay->flush();
  serial->drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][0].event, "$snapshot");
  EXPECT_EQ(delegate->told, 0);
}

TEST_F(ReplayQueueTest, BufferingHoldsEventsBackAndSuppressesFlushes) {
  CapturedLog log;
  open();
  auto delegate = std::make_shared<Delegate>();
  replay->setBufferDelegate(delegate);
  replay->add(snapshot());
  EXPECT_EQ(delegate->told, 1);
  EXPECT_EQ(replay->bufferDepth(), 1u);
  EXPECT_EQ(replay->depth(), 0u);
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                      "[DiziZoz] Buffered replay event '$snapshot'. Buffer depth: 1"),
            log.lines.end());
  replay->flush();
  serial->drain();
  EXPECT_TRUE(sent.empty());
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                      "[DiziZoz] Replay queue flush suppressed \u2014 still buffering"),
            log.lines.end());

  delegate.reset();  // held weakly: gone means no buffering
  replay->add(snapshot());
  EXPECT_EQ(replay->depth(), 1u);
}

TEST_F(ReplayQueueTest, EveryStartWipesTheBuffer) {
  fs::create_directories(bufferFolder());
  std::ofstream(bufferFolder() / "left-over") << "{}";
  open();
  EXPECT_EQ(replay->bufferDepth(), 0u);
  EXPECT_TRUE(fs::is_empty(bufferFolder()));
}

}  // namespace
