#include "DiziZoz/delivery/DiziZozQueue.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/HedgeLog.h"
#include "platform/Clock.h"
#include "platform/MainExecutor.h"
#include "platform/SerialQueue.h"

namespace dizizoz {

std::string shortestDecimal(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}

namespace {

std::vector<std::filesystem::path> oldLocations(const DiziZozStorage& storage,
                                                const std::vector<DiziZozStorage::StorageKey>& keys) {
  std::vector<std::filesystem::path> paths;
  for (auto key : keys) paths.push_back(storage.url(key));
  return paths;
}

DiziZozFileBackedQueue::Environment withClock(DiziZozFileBackedQueue::Environment files,
                                              const platform::Clock* clock) {
  if (!files.clock) files.clock = clock;
  return files;
}

std::string describeDate(Date date) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
  return text;
}

}  // namespace

template <typename T>
std::shared_ptr<DiziZozQueue<T>> DiziZozQueue<T>::create(
    const DiziZozConfig& config, const DiziZozStorage& storage, QueueEndpoint<T> endpoint,
    std::shared_ptr<DiziZozReachabilityMonitoring> reachability, Environment environment) {
  return std::shared_ptr<DiziZozQueue>(new DiziZozQueue(config, storage, std::move(endpoint),
                                                        std::move(reachability), std::move(environment)));
}

template <typename T>
DiziZozQueue<T>::DiziZozQueue(const DiziZozConfig& config, const DiziZozStorage& storage,
                              QueueEndpoint<T> endpoint,
                              std::shared_ptr<DiziZozReachabilityMonitoring> reachability,
                              Environment environment)
    : maxRetries_(config.maxRetries),
      dataMode_(config.dataMode),
      endpoint_(std::move(endpoint)),
      configuredMaxQueueSize_(endpoint_.maxQueueSize(config)),
      timerInterval_(endpoint_.flushIntervalSeconds(config)),
      reachability_(std::move(reachability)),
      owners_(environment.owners),
      mainExecutor_(*environment.mainExecutor),
      clock_(environment.clock ? *environment.clock : platform::SystemClock::shared()),
      cap_(std::max(1, endpoint_.initialCap(config))),
      flushAtValue_(std::max(1, endpoint_.initialFlushAt(config))),
      rateCapMax_(endpoint_.rateCapMax(config)),
      rateCapWindowSeconds_(endpoint_.rateCapWindowSeconds(config)),
      fileQueue_(storage.url(endpoint_.storageKey), oldLocations(storage, endpoint_.oldStorageKeys),
                 withClock(environment.files, environment.clock)),
      dispatchQueue_(environment.makeSerialQueue(endpoint_.dispatchQueueLabel)) {}

template <typename T>
DiziZozQueue<T>::~DiziZozQueue() {
  {
    std::lock_guard lock(timerLock_);
    if (timer_) timer_->cancel();
  }
  // The last owner can be a job of the queue's own serial queue, which cannot wait for itself to end:
  // the serial queue is then let go on the main executor, after this job has finished.
  if (dispatchQueue_ && dispatchQueue_->isCurrent())
    mainExecutor_.post([serial = std::move(dispatchQueue_)] {});
}

template <typename T>
Date DiziZozQueue<T>::now() const {
  return clock_.now();
}

template <typename T>
std::size_t DiziZozQueue<T>::depth() const {
  return fileQueue_.depth();
}

template <typename T>
DiziZozQueueTally DiziZozQueue<T>::tally() const {
  const Counters& c = counters_;
  return {.delivered = c.delivered.load(),
          .refused = c.refused.load(),
          .abandoned = c.abandoned.load(),
          .overflowed = c.overflowed.load(),
          .rateCapped = c.rateCapped.load(),
          .unstored = c.unstored.load(),
          .undecodable = c.undecodable.load(),
          .oversized = c.oversized.load(),
          .notRegularFile = c.notRegularFile.load(),
          .unreadable = c.unreadable.load()};
}

template <typename T>
int DiziZozQueue<T>::cap() const {
  std::lock_guard lock(batchLimitsLock_);
  return cap_;
}

template <typename T>
int DiziZozQueue<T>::flushAt() const {
  std::lock_guard lock(batchLimitsLock_);
  return flushAtValue_;
}

template <typename T>
void DiziZozQueue<T>::start(bool disableReachabilityForTesting, bool disableQueueTimerForTesting) {
  std::weak_ptr<DiziZozQueue> weak = this->weak_from_this();
  if (!disableReachabilityForTesting && reachability_) {
    {
      std::lock_guard lock(tokensLock_);
      reachableToken_ = reachability_->onReachable().subscribe([weak](const DiziZozReachabilityMonitoring&) {
        if (auto self = weak.lock()) self->onReachable();
      });
      unreachableToken_ =
          reachability_->onUnreachable().subscribe([weak](const DiziZozReachabilityMonitoring&) {
            if (auto self = weak.lock()) self->onUnreachable();
          });
    }
    if (auto error = reachability_->startNotifier())
      hedgeLog("Error: Unable to monitor network reachability: " + *error);
  }
  if (!disableQueueTimerForTesting) {
    mainExecutor_.post([weak] {
      auto self = weak.lock();
      if (!self) return;
      std::lock_guard lock(self->timerLock_);
      if (self->stopped_) return;
      if (self->timer_) self->timer_->cancel();
      const auto interval = std::chrono::duration_cast<platform::MainExecutor::Duration>(
          std::chrono::duration<double>(self->timerInterval_));
      self->timer_ = self->mainExecutor_.scheduleRepeating(interval, [weak] {
        if (auto queue = weak.lock()) queue->flush();
      });
    });
  }
}

template <typename T>
void DiziZozQueue<T>::onReachable() {
  const bool wifi = reachability_ && reachability_->connection() == DiziZozConnection::wifi;
  {
    std::lock_guard lock(stateLock_);
    if (dataMode_ == DiziZozDataMode::wifi && !wifi) {
      hedgeLog("[DiziZoz] Queue is paused because its not in WiFi mode");
      paused_ = true;
    } else {
      paused_ = false;
    }
  }
  if (wifi) flush();
}

template <typename T>
void DiziZozQueue<T>::onUnreachable() {
  std::lock_guard lock(stateLock_);
  hedgeLog("[DiziZoz] Queue is paused because network is unreachable");
  paused_ = true;
}

template <typename T>
void DiziZozQueue<T>::clear() {
  dropAllQueuedRecords("cleared");
}

template <typename T>
void DiziZozQueue<T>::stop() {
  std::optional<platform::CancelToken> timer;
  {
    std::lock_guard lock(timerLock_);
    stopped_ = true;
    timer = std::exchange(timer_, std::nullopt);
  }
  // Cancelling is safe from any thread: the executor checks the token before every run.
  if (timer) timer->cancel();
  RegistrationToken reachable, unreachable;
  {
    std::lock_guard lock(tokensLock_);
    reachable = std::move(reachableToken_);
    unreachable = std::move(unreachableToken_);
  }
}

template <typename T>
void DiziZozQueue<T>::add(T record) {
  if (rateCapMax_ > 0) {
    bool drop;
    {
      std::lock_guard lock(rateCapLock_);
      rollRateCapWindowIfNeeded();
      drop = rateCapCount_ >= rateCapMax_;
      if (!drop) ++rateCapCount_;
    }
    if (drop) {
      ++counters_.rateCapped;
      noteRateCapDropped();
      return;
    }
  }
  std::size_t depthAfter;
  {
    std::lock_guard lock(addLock_);
    if (fileQueue_.depth() >= static_cast<std::size_t>(std::max(0, configuredMaxQueueSize_))) {
      hedgeLog("[DiziZoz] Queue is full, dropping oldest record");
      if (fileQueue_.deleteAt(0)) ++counters_.overflowed;
    }
    auto bytes = endpoint_.encode(record);
    if (!bytes) {
      ++counters_.unstored;
      hedgeLog("[DiziZoz] Tried to queue unserialisable record");
      return;
    }
    if (!fileQueue_.add(*bytes)) {
      ++counters_.unstored;
      hedgeLog("Dropped " + endpoint_.describe(record) + ": it could not be stored");
      return;
    }
    depthAfter = fileQueue_.depth();
  }
  hedgeLog("Queued " + endpoint_.describe(record) + ". Depth: " + std::to_string(depthAfter));
  flushIfOverThreshold();
}

template <typename T>
void DiziZozQueue<T>::rollRateCapWindowIfNeeded() {
  const Date current = now();
  const bool expired =
      !rateCapWindowStart_ || current < *rateCapWindowStart_ ||
      std::chrono::duration<double>(current - *rateCapWindowStart_).count() >= rateCapWindowSeconds_;
  if (!expired) return;
  rateCapWindowStart_ = current;
  rateCapCount_ = 0;
  rateCapDropWarned_ = false;
}

template <typename T>
void DiziZozQueue<T>::noteRateCapDropped() {
  std::lock_guard lock(rateCapLock_);
  if (rateCapDropWarned_) return;
  rateCapDropWarned_ = true;
  hedgeLog("Queue rate cap exceeded (" + std::to_string(rateCapMax_) + " per " +
           shortestDecimal(rateCapWindowSeconds_) + "s), dropping records this window");
}

template <typename T>
void DiziZozQueue<T>::flushIfOverThreshold() {
  if (fileQueue_.depth() < static_cast<std::size_t>(flushAt())) return;
  if (!canFlush()) return;
  take(static_cast<std::size_t>(cap()),
       [this](DiziZozConsumerPayload<T> payload) { flushCompletion(std::move(payload)); });
}

template <typename T>
void DiziZozQueue<T>::flush() {
  if (!canFlush()) return;
  take(static_cast<std::size_t>(cap()),
       [this](DiziZozConsumerPayload<T> payload) { flushCompletion(std::move(payload)); });
}

template <typename T>
void DiziZozQueue<T>::flushCompletion(DiziZozConsumerPayload<T> payload) {
  if (payload.records.empty()) {
    payload.completion(DiziZozBatchOutcome::dropped);
    return;
  }
  sendBatch(std::move(payload));
}

template <typename T>
std::optional<std::string> DiziZozQueue<T>::pauseReason() const {
  std::lock_guard lock(stateLock_);
  if (paused_) return "paused due to the reachability check";
  if (pausedUntil_ && *pausedUntil_ > now()) return "paused until `" + describeDate(*pausedUntil_) + "`";
  return std::nullopt;
}

template <typename T>
bool DiziZozQueue<T>::canFlush() const {
  if (auto reason = pauseReason()) {
    hedgeLog("The queue is " + *reason);
    return false;
  }
  return true;
}

template <typename T>
void DiziZozQueue<T>::take(std::size_t count, Completion completion) {
  // `completion` runs on the serial queue while the job holds the queue, so it may use `this`.
  std::weak_ptr<DiziZozQueue> weak = this->weak_from_this();
  dispatchQueue_->async([weak, count, completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self) return;
    if (self->pauseReason()) return;
    {
      std::lock_guard lock(self->isFlushingLock_);
      if (self->isFlushing_) {
        hedgeLog("[DiziZoz] Already flushing");
        return;
      }
      self->isFlushing_ = true;
    }
    std::vector<std::string> names;
    std::vector<std::string> undecodable;
    std::vector<T> records;
    DiziZozFileBackedQueue::Discarded discarded;
    for (auto& file : self->fileQueue_.peekNamed(count, &discarded)) {
      if (auto record = self->endpoint_.decode(file.contents)) {
        records.push_back(std::move(*record));
        names.push_back(std::move(file.name));
      } else {
        hedgeLog("Dropped the stored record " + file.name + ": it does not decode");
        undecodable.push_back(std::move(file.name));
      }
    }
    Counters& counters = self->counters_;
    counters.undecodable += self->fileQueue_.remove(undecodable);
    counters.oversized += discarded.oversized;
    counters.notRegularFile += discarded.notRegularFile;
    counters.unreadable += discarded.unreadable;
    DiziZozConsumerPayload<T> payload;
    payload.records = std::move(records);
    payload.completion = [weak, names = std::move(names)](DiziZozBatchOutcome outcome) {
      auto queue = weak.lock();
      if (!queue) return;
      if (outcome != DiziZozBatchOutcome::kept && !names.empty()) {
        const std::size_t removed = queue->fileQueue_.remove(names);
        (outcome == DiziZozBatchOutcome::delivered ? queue->counters_.delivered : queue->counters_.refused) +=
            removed;
        hedgeLog("[DiziZoz] Completed!");
      }
      std::lock_guard lock(queue->isFlushingLock_);
      queue->isFlushing_ = false;
    };
    completion(std::move(payload));
  });
}

template <typename T>
void DiziZozQueue<T>::sendBatch(DiziZozConsumerPayload<T> payload) {
  hedgeLog("Sending batch of " + std::to_string(payload.records.size()) + " records to DiziZoz");
  auto records = payload.records;
  std::weak_ptr<DiziZozQueue> weak = this->weak_from_this();
  auto shared = std::make_shared<DiziZozConsumerPayload<T>>(std::move(payload));
  endpoint_.send(std::move(records), [weak, shared](DiziZozUploadInfo outcome) {
    if (auto self = weak.lock()) self->handleResult(outcome, *shared);
  });
}

template <typename T>
bool DiziZozQueue<T>::countFailureOrDropAll(const std::string& dropReason) {
  int r;
  {
    std::lock_guard lock(stateLock_);
    r = ++retryCount_;
  }
  if (r <= maxRetries_) return false;
  dropAllQueuedRecords(dropReason);
  return true;
}

template <typename T>
void DiziZozQueue<T>::handleResult(const DiziZozUploadInfo& outcome, DiziZozConsumerPayload<T>& payload) {
  const auto code = outcome.statusCode;
  if (!code || *code == -1 || endpoint_.isRetriableStatusCode(*code)) {
    const std::string reason = "max retries (" + std::to_string(maxRetries_) + ") exceeded";
    int r;
    {
      std::lock_guard lock(stateLock_);
      r = ++retryCount_;
    }
    if (r > maxRetries_) {
      dropAllQueuedRecords(reason);
      payload.completion(DiziZozBatchOutcome::dropped);
      return;
    }
    const double delay = std::max(static_cast<double>(std::min(r, 30)), outcome.retryAfter.value_or(0.0));
    pauseFor(delay);
    hedgeLog("Pausing queue consumption for " + shortestDecimal(delay) + " seconds due to " +
             std::to_string(r) + " API failure(s).");
    payload.completion(DiziZozBatchOutcome::kept);
    return;
  }
  if (*code == 413) {
    const int currentCap = cap();
    if (currentCap < 2 || payload.records.size() < 2) {
      hedgeLog("[DiziZoz] Queue: dropping batch after HTTP 413 (cap == 1)");
      {
        std::lock_guard lock(stateLock_);
        retryCount_ = 0;
      }
      payload.completion(DiziZozBatchOutcome::dropped);
      return;
    }
    if (countFailureOrDropAll("max retries (" + std::to_string(maxRetries_) +
                              ") exceeded after repeated HTTP 413")) {
      payload.completion(DiziZozBatchOutcome::dropped);
      return;
    }
    int newCap;
    {
      std::lock_guard lock(batchLimitsLock_);
      const int count =
          static_cast<int>(std::min<std::size_t>(payload.records.size(), static_cast<std::size_t>(cap_)));
      newCap = std::max(1, count / 2);
      flushAtValue_ = std::max(1, std::min(newCap, flushAtValue_ / 2));
      cap_ = newCap;
    }
    hedgeLog("Queue: HTTP 413, halved batch cap to " + std::to_string(newCap));
    payload.completion(DiziZozBatchOutcome::kept);
    return;
  }
  {
    std::lock_guard lock(stateLock_);
    retryCount_ = 0;
  }
  const bool delivered = *code >= 200 && *code <= 299;
  payload.completion(delivered ? DiziZozBatchOutcome::delivered : DiziZozBatchOutcome::dropped);
}

template <typename T>
void DiziZozQueue<T>::pauseFor(double seconds) {
  const Date until = addingSeconds(now(), seconds);
  std::lock_guard lock(stateLock_);
  pausedUntil_ = until;
}

template <typename T>
void DiziZozQueue<T>::dropAllQueuedRecords(const std::string& reason) {
  hedgeLog("Queue: dropping all queued records \u2014 " + reason);
  {
    std::lock_guard lock(addLock_);
    counters_.abandoned += fileQueue_.depth();
    fileQueue_.clear();
  }
  std::lock_guard lock(stateLock_);
  retryCount_ = 0;
  pausedUntil_.reset();
}

template class DiziZozQueue<DiziZozEvent>;
template class DiziZozQueue<DiziZozLogRecord>;

}  // namespace dizizoz
