#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozQueueing.h"
#include "DiziZoz/core/DiziZozReachabilityMonitoring.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/RegistrationToken.h"
#include "DiziZoz/core/Value.h"
#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"
#include "DiziZoz/delivery/QueueEndpoint.h"
#include "platform/CancelToken.h"

namespace platform {
class Clock;
class MainExecutor;
class SerialQueue;
}  // namespace platform

namespace dizizoz {

// What becomes of the files of a finished batch: kept for a later attempt, or deleted because the service
// took the records (delivered) or because they are given up (dropped).
enum class DiziZozBatchOutcome { kept, delivered, dropped };

// One batch handed from the reader to the sender: the decoded records in file order and the completion
// that finishes the batch. The completion must run exactly once.
template <typename T>
struct DiziZozConsumerPayload {
  std::vector<T> records;
  std::function<void(DiziZozBatchOutcome)> completion;
};

// The records an upload queue has finished since it was built.
struct DiziZozQueueTally {
  std::size_t delivered = 0;  // deleted after a 2xx answer to the batch that carried them
  // Given up, by cause:
  std::size_t refused = 0;         // a final answer (any but 2xx that is not retried; 413 to one record)
  std::size_t abandoned = 0;       // deleted with every stored record after too many failures in a row
  std::size_t overflowed = 0;      // the oldest record, removed for a new one when the store was full
  std::size_t rateCapped = 0;      // over the rate cap, never stored
  std::size_t unstored = 0;        // could not be encoded or written
  std::size_t undecodable = 0;     // a stored file that does not decode as a record
  std::size_t oversized = 0;       // a stored file over the store's size cap
  std::size_t notRegularFile = 0;  // an entry of the store's folder that is not a regular file
  std::size_t unreadable = 0;      // a stored file that could not be read for another reason
  // All of them together.
  std::size_t dropped() const {
    return refused + abandoned + overflowed + rateCapped + unstored + undecodable + oversized +
           notRegularFile + unreadable;
  }
};

// The persistent, batching upload queue of one stream (events, log records, replay snapshots). Every
// record is one file in the stream's folder as soon as add() returns; batches are read on the queue's
// own serial queue and uploaded when the stored count reaches the threshold, when the repeating timer
// fires, when the network comes back, or on flush(). A batch's files go only after a final answer.
//
// Failures: transport errors and retriable codes back off 1, 2, 3... seconds (at most 30, or the
// server's Retry-After when longer); after `maxRetries` failures in a row every stored record of the
// stream is dropped. 413 halves the batch cap and threshold (they never grow again); a batch that cannot
// be split is deleted. Every other answer deletes the batch and resets the failure count.
//
// A finished batch deletes the files it read, by name: records removed meanwhile (by the size limit or a
// drop-all) never make it delete records that were not sent. After a drop-all nothing is deleted. A
// stored record that does not decode is deleted when a batch reads it.
//
// Thread-safe; always held by a shared_ptr (create()). Timers, reachability handlers, the reader and the
// upload completions hold the queue weakly: a queue released while a batch is in flight ignores the
// outcome and its files stay for the next run.
template <typename T>
class DiziZozQueue final : public DiziZozQueueing<T>, public std::enable_shared_from_this<DiziZozQueue<T>> {
 public:
  using SerialQueueMaker = std::function<std::shared_ptr<platform::SerialQueue>(const std::string& label)>;

  struct Environment {
    platform::MainExecutor* mainExecutor = nullptr;  // runs the flush timer; required
    SerialQueueMaker makeSerialQueue;                // required
    const platform::Clock* clock = nullptr;          // the system clock when null
    DiziZozFileBackedQueue::Environment files;       // the store's files and ids
    // Kept alive as long as the queue (the owners of what the pointers above point at).
    std::vector<std::shared_ptr<const void>> owners;
  };

  // Reads the endpoint's limits once (cap and threshold raised to 1), creates and migrates the store
  // and the serial queue; starts nothing.
  static std::shared_ptr<DiziZozQueue> create(const DiziZozConfig& config, const DiziZozStorage& storage,
                                              QueueEndpoint<T> endpoint,
                                              std::shared_ptr<DiziZozReachabilityMonitoring> reachability,
                                              Environment environment);
  ~DiziZozQueue() override;

  std::size_t depth() const override;
  void start(bool disableReachabilityForTesting, bool disableQueueTimerForTesting) override;
  // Nothing in the client calls it; it empties the store and clears the back-off.
  void clear();
  void stop() override;
  void flush() override;
  void flushIfOverThreshold();
  void add(T record) override;

  DiziZozQueueTally tally() const;
  // The current batch cap and flush threshold.
  int cap() const;
  int flushAt() const;
  // Why no batch may start now, if anything stops it.
  std::optional<std::string> pauseReason() const;

 private:
  DiziZozQueue(const DiziZozConfig& config, const DiziZozStorage& storage, QueueEndpoint<T> endpoint,
               std::shared_ptr<DiziZozReachabilityMonitoring> reachability, Environment environment);

  using Completion = std::function<void(DiziZozConsumerPayload<T>)>;

  bool canFlush() const;
  void take(std::size_t count, Completion completion);
  void flushCompletion(DiziZozConsumerPayload<T> payload);
  void sendBatch(DiziZozConsumerPayload<T> payload);
  void handleResult(const DiziZozUploadInfo& outcome, DiziZozConsumerPayload<T>& payload);
  // Adds one failure; drops everything and answers true when it is one too many.
  bool countFailureOrDropAll(const std::string& dropReason);
  void pauseFor(double seconds);
  void dropAllQueuedRecords(const std::string& reason);
  void rollRateCapWindowIfNeeded();
  void noteRateCapDropped();
  void onReachable();
  void onUnreachable();
  Date now() const;

  // The options the queue reads while it runs (the client's options do not change after set-up).
  const int maxRetries_;
  const DiziZozDataMode dataMode_;
  const QueueEndpoint<T> endpoint_;
  int configuredMaxQueueSize_;
  double timerInterval_;
  std::shared_ptr<DiziZozReachabilityMonitoring> reachability_;
  const std::vector<std::shared_ptr<const void>> owners_;
  platform::MainExecutor& mainExecutor_;
  const platform::Clock& clock_;

  mutable std::mutex stateLock_;
  bool paused_ = false;              // stateLock_
  std::optional<Date> pausedUntil_;  // stateLock_
  int retryCount_ = 0;               // stateLock_

  std::mutex tokensLock_;
  RegistrationToken reachableToken_;    // tokensLock_
  RegistrationToken unreachableToken_;  // tokensLock_

  std::mutex isFlushingLock_;
  bool isFlushing_ = false;  // isFlushingLock_

  std::mutex timerLock_;
  std::optional<platform::CancelToken> timer_;  // timerLock_
  bool stopped_ = false;                        // timerLock_

  mutable std::mutex batchLimitsLock_;
  int cap_ = 1;           // batchLimitsLock_
  int flushAtValue_ = 1;  // batchLimitsLock_

  const int rateCapMax_;
  const double rateCapWindowSeconds_;
  std::mutex rateCapLock_;
  std::optional<Date> rateCapWindowStart_;  // rateCapLock_
  int rateCapCount_ = 0;                    // rateCapLock_
  bool rateCapDropWarned_ = false;          // rateCapLock_

  // The tally, counted as records finish.
  struct Counters {
    std::atomic<std::size_t> delivered{0}, refused{0}, abandoned{0}, overflowed{0}, rateCapped{0},
        unstored{0}, undecodable{0}, oversized{0}, notRegularFile{0}, unreadable{0};
  };
  Counters counters_;

  // Serialises the size check, the removal of the oldest record and the write, so that two adders
  // never remove two records for one.
  std::mutex addLock_;
  DiziZozFileBackedQueue fileQueue_;
  std::shared_ptr<platform::SerialQueue> dispatchQueue_;
};

extern template class DiziZozQueue<DiziZozEvent>;
extern template class DiziZozQueue<DiziZozLogRecord>;

// The shortest decimal text of `value` that reads back the same, with ".0" on whole numbers (10.0, 2.5).
std::string shortestDecimal(double value);

}  // namespace dizizoz
