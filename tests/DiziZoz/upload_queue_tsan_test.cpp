#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/delivery/DiziZozQueue.h"
#include "DiziZoz/delivery/QueueEndpoint.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/DiziZoz/QueueTestFolder.h"
#include "tests/support/Eventually.h"

namespace {

using dizizoz::DiziZozEvent;
using dizizoz::DiziZozQueue;
using dizizoz::QueueEndpoint;

// A queue on a real serial thread of its own. `serial`, when given, also holds that thread, so that the
// test can wait for the queue's last job.
std::shared_ptr<DiziZozQueue<DiziZozEvent>> threadedQueue(
    const dizizoz::DiziZozConfig& config, const dizizoz::DiziZozStorage& storage,
    QueueEndpoint<DiziZozEvent> endpoint, platform::MainExecutor& executor,
    std::shared_ptr<platform::ThreadSerialQueue>* serial = nullptr) {
  DiziZozQueue<DiziZozEvent>::Environment environment;
  environment.mainExecutor = &executor;
  environment.makeSerialQueue = [serial](const std::string& label) {
    auto queue = std::make_shared<platform::ThreadSerialQueue>(label);
    if (serial) *serial = queue;
    return queue;
  };
  return DiziZozQueue<DiziZozEvent>::create(config, storage, std::move(endpoint), nullptr, environment);
}

// Several threads add while batches are read on the queue's thread and answered on another one: every
// record arrives, and none is deleted before it was sent.
TEST(UploadQueueTsanTest, ConcurrentAddsWhileBatchesComplete) {
  dizizoz::DiziZozConfig config("key");
  config.flushAt = 5;
  config.maxBatchSize = 7;
  config.maxQueueSize = 100000;
  dizizoz::test::QueueTestFolder files(config);
  auto storage = files.storage;
  ASSERT_TRUE(storage);

  auto network = std::make_shared<platform::ThreadSerialQueue>("upload-answers");
  std::mutex receivedLock;
  std::multiset<std::string> received;
  auto endpoint = QueueEndpoint<DiziZozEvent>::batch(nullptr);
  endpoint.send = [&](std::vector<DiziZozEvent> records, QueueEndpoint<DiziZozEvent>::Completion completion) {
    network->async([&, records = std::move(records), completion = std::move(completion)] {
      {
        std::lock_guard lock(receivedLock);
        for (const auto& record : records) received.insert(record.uuid.toString());
      }
      completion(dizizoz::DiziZozUploadInfo{200, std::nullopt, std::nullopt});
    });
  };
  platform::fake::ManualExecutor executor;
  std::shared_ptr<platform::ThreadSerialQueue> serial;
  auto queue = threadedQueue(config, *storage, endpoint, executor, &serial);
  ASSERT_TRUE(serial);

  constexpr int threads = 4, perThread = 60;
  std::set<std::string> added;
  std::mutex addedLock;
  std::vector<std::thread> adders;
  for (int t = 0; t < threads; ++t) {
    adders.emplace_back([&] {
      for (int i = 0; i < perThread; ++i) {
        DiziZozEvent event("e", "device", dizizoz::Properties::object(), std::chrono::system_clock::now(),
                           dizizoz::TimeBasedEpochGenerator::shared().v7());
        {
          std::lock_guard lock(addedLock);
          added.insert(event.uuid.toString());
        }
        queue->add(std::move(event));
      }
    });
  }
  for (auto& adder : adders) adder.join();

  EXPECT_TRUE(quorvelle::test::waitUntil(
      [&] {
        queue->flush();
        return queue->depth() == 0;
      },
      "every record was sent"));
  network->sync([] {});
  EXPECT_EQ(queue->depth(), 0u);
  {
    std::lock_guard lock(receivedLock);
    for (const auto& uuid : added) EXPECT_TRUE(received.contains(uuid)) << uuid;
  }

  // A job on the queue's thread or an answer on the network's may still hold the queue, and the last of
  // them to let it go hands the queue's thread to the executor: nothing of the queue may run on once the
  // test's executor, endpoint and records are gone.
  std::weak_ptr<DiziZozQueue<DiziZozEvent>> weak = queue;
  queue.reset();
  EXPECT_TRUE(quorvelle::test::waitUntil([&] { return weak.expired(); }, "the queue was let go"));
  network->sync([] {});
  serial->sync([] {});
  executor.runUntilIdle();
}

// The reader holds the queue while it reads a batch; when the program lets the queue go meanwhile, the
// queue ends on its own serial thread and must not wait for that thread.
TEST(UploadQueueTsanTest, QueueLastReleasedOnItsOwnThreadEndsCleanly) {
  dizizoz::DiziZozConfig config("key");
  dizizoz::test::QueueTestFolder files(config);
  auto storage = files.storage;
  ASSERT_TRUE(storage);

  std::promise<void> reading, released;
  auto endpoint = QueueEndpoint<DiziZozEvent>::batch(nullptr);
  auto decode = endpoint.decode;
  endpoint.decode = [&, decode](std::string_view bytes) {
    reading.set_value();
    released.get_future().wait();
    return decode(bytes);
  };
  endpoint.send = [](std::vector<DiziZozEvent>, QueueEndpoint<DiziZozEvent>::Completion) {};
  platform::fake::ManualExecutor executor;
  auto queue = threadedQueue(config, *storage, endpoint, executor);
  queue->add(DiziZozEvent("e", "device", dizizoz::Properties::object(), std::chrono::system_clock::now(),
                          dizizoz::TimeBasedEpochGenerator::shared().v7()));
  queue->flush();
  reading.get_future().wait();
  std::weak_ptr<DiziZozQueue<DiziZozEvent>> weak = queue;
  queue.reset();
  released.set_value();
  while (!weak.expired()) std::this_thread::yield();
  // The serial queue was handed to the main executor; letting it go there joins its thread.
  while (executor.pendingCount() == 0) std::this_thread::yield();
  executor.runUntilIdle();
}

}  // namespace
