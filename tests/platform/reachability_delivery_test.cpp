#include "platform/ReachabilityDelivery.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/fake/ManualSerialQueue.h"

namespace {

using platform::ReachabilityDelivery;
using platform::ReachabilityFlag;
using platform::ReachabilityFlags;
using platform::ReachabilityRead;

// A delivery whose re-reads give `current` (or fail with `readError`), scheduled on a manual queue.
class ReachabilityDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    delivery.setCallback([this](ReachabilityFlags flags) { reported.push_back(flags); });
    delivery.setQueue(queue);
  }

  ReachabilityFlags current = ReachabilityFlag::reachable;
  int readError = 0;
  int reads = 0;
  std::vector<ReachabilityFlags> reported;
  std::shared_ptr<platform::fake::ManualSerialQueue> queue =
      std::make_shared<platform::fake::ManualSerialQueue>();
  ReachabilityDelivery delivery{"test", [this] {
                                  ++reads;
                                  if (readError) {
                                    return ReachabilityRead{.flags = std::nullopt, .error = readError};
                                  }
                                  return ReachabilityRead{.flags = current, .error = 0};
                                }};
};

TEST_F(ReachabilityDeliveryTest, ABurstOfChangesIsOneReadOnTheQueue) {
  delivery.changed();
  delivery.changed();
  delivery.changed();
  EXPECT_EQ(reads, 0) << "reads happen on the queue";
  queue->drain();
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(reported, std::vector<ReachabilityFlags>{ReachabilityFlag::reachable});

  // A change after the read started needs a read of its own.
  current = 0;
  delivery.changed();
  queue->drain();
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(reported, (std::vector<ReachabilityFlags>{ReachabilityFlag::reachable, 0}));
}

TEST_F(ReachabilityDeliveryTest, AFailedReadReportsNothingAndTheNextChangeReadsAgain) {
  readError = 5;
  delivery.changed();
  queue->drain();
  EXPECT_TRUE(reported.empty());

  readError = 0;
  delivery.changed();
  queue->drain();
  EXPECT_EQ(reported, std::vector<ReachabilityFlags>{ReachabilityFlag::reachable});
}

TEST_F(ReachabilityDeliveryTest, QueuedWorkDoesNotReachARemovedCallbackOrAnUnscheduledQueue) {
  delivery.report(0);
  delivery.changed();
  delivery.setCallback({});
  queue->drain();
  EXPECT_EQ(reads, 0);
  EXPECT_TRUE(reported.empty());

  SetUp();
  delivery.report(0);
  delivery.changed();
  delivery.setQueue(nullptr);
  delivery.changed();
  EXPECT_EQ(queue->pendingCount(), 2u) << "nothing more is queued while unscheduled";

  // Moved to another queue before the old one ran anything: changes are read there, and what was left
  // on the old queue does nothing.
  auto other = std::make_shared<platform::fake::ManualSerialQueue>();
  delivery.setQueue(other);
  delivery.changed();
  queue->drain();
  EXPECT_TRUE(reported.empty());
  other->drain();
  EXPECT_EQ(reported, std::vector<ReachabilityFlags>{ReachabilityFlag::reachable});
}

}  // namespace
