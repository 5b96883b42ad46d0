#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncLinkedList.h"

using List = dzcrash::async::async_list<uint64_t>;

// One writer appends, prepends and removes while several readers walk without a lock. Under
// ThreadSanitizer any unordered access to a node (a reader seeing a half-published node, a parked
// node rewritten under a reader) is reported; under AddressSanitizer a node freed under a reader is.
TEST(AsyncListStress, OneWriterSeveralReaders) {
  List list;
  constexpr int kReaders = 4;
  constexpr int kWriterSteps = 20000;
  std::atomic<bool> done{false};
  std::atomic<uint64_t> walks{0};
  std::atomic<int> orderViolations{0};

  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      while (!done.load()) {
        list.set_reading(true);
        // Appended values rise; prepended ones are odd and below every appended one. A reader
        // standing on a removed node walks on through nodes that were its successors, so the
        // appended values it sees still rise.
        uint64_t lastAppended = 0;
        for (auto* n = list.next(nullptr); n != nullptr; n = list.next(n)) {
          const uint64_t v = n->value();
          if (v >= (uint64_t{1} << 32)) {
            if (v <= lastAppended) orderViolations.fetch_add(1);
            lastAppended = v;
          }
        }
        list.set_reading(false);
        walks.fetch_add(1);
      }
    });
  }

  // Start writing once every reader walks, and keep the list near 64 nodes so each walk is short.
  while (walks.load() < kReaders) std::this_thread::yield();
  const uint64_t walksBefore = walks.load();
  uint64_t nextAppended = uint64_t{1} << 32;
  uint64_t nextPrepended = 1;
  size_t size = 0;
  for (int step = 0; step < kWriterSteps; ++step) {
    const bool grow = size < 32 || (size < 96 && step % 3 != 0);
    if (grow) {
      if (step % 5 == 0) {
        list.nasync_prepend(nextPrepended += 2);
      } else {
        list.nasync_append(nextAppended++);
      }
      ++size;
      continue;
    }
    // Remove the head, or a node a few steps in; finding it is reading.
    list.set_reading(true);
    List::node* victim = list.next(nullptr);
    for (int hops = step % 7; hops > 0 && victim != nullptr && list.next(victim) != nullptr; --hops) {
      victim = list.next(victim);
    }
    list.set_reading(false);
    if (victim != nullptr && list.nasync_remove_node(victim)) --size;
  }
  const uint64_t walksDuring = walks.load() - walksBefore;
  done.store(true);
  for (auto& t : readers) t.join();

  EXPECT_EQ(orderViolations.load(), 0);
  EXPECT_GT(walksDuring, 0u) << "readers walked while the writer changed the list";
}
