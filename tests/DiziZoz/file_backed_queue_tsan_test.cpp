#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"
#include "tests/support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using dizizoz::DiziZozFileBackedQueue;

// The store as the upload queues use it: threads that capture add records while the queue's own thread
// reads a batch from the head and removes it once sent. Under ThreadSanitizer any unguarded access to the
// list is reported, and in every build each record is read exactly once and no file is left behind.
TEST(FileBackedQueueStress, ProducersAddWhileOneConsumerPeeksAndPops) {
  quorvelle::test::TempDir dir;
  const fs::path folder = dir / "dizizoz.logsFolder";
  DiziZozFileBackedQueue queue(folder, {});

  constexpr int producers = 4;
  constexpr int perProducer = 150;
  std::atomic<int> producing{producers};
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < perProducer; ++i) queue.add(std::to_string(p) + ":" + std::to_string(i));
      producing.fetch_sub(1);
    });
  }

  std::multiset<std::string> delivered;
  std::thread consumer([&] {
    for (;;) {
      const bool last = producing.load() == 0;
      const auto batch = queue.peek(7);
      delivered.insert(batch.begin(), batch.end());
      queue.pop(batch.size());
      if (last && batch.empty()) return;
      // Depth is read on this thread while the producers change the list.
      (void)queue.depth();
    }
  });
  for (auto& thread : threads) thread.join();
  consumer.join();

  EXPECT_EQ(delivered.size(), static_cast<std::size_t>(producers * perProducer));
  EXPECT_EQ(std::set<std::string>(delivered.begin(), delivered.end()).size(), delivered.size())
      << "no record read twice";
  EXPECT_EQ(queue.depth(), 0u);
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
