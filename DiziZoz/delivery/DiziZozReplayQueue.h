#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/DiziZozReplayQueueing.h"
#include "DiziZoz/core/Value.h"
#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"
#include "DiziZoz/delivery/DiziZozQueue.h"

namespace dizizoz {

class DiziZozApi;
class DiziZozReplayQueue;

// Decides whether snapshot events are held back from upload; held by the replay queue weakly.
class DiziZozReplayBufferDelegate {
 public:
  virtual ~DiziZozReplayBufferDelegate() = default;
  virtual bool isBuffering() const = 0;
  // After each event written to the buffer.
  virtual void replayQueueDidBuffer(DiziZozReplayQueue& queue) = 0;
};

// Held-back snapshot events, one file each, in a folder that every start wipes: buffered events of an
// earlier run are discarded, never uploaded.
class DiziZozReplayBufferQueue {
 public:
  explicit DiziZozReplayBufferQueue(std::filesystem::path queue,
                                    DiziZozFileBackedQueue::Environment environment = {});
  std::size_t depth() const { return store_->depth(); }
  std::optional<double> bufferDuration;  // kept for the replay integration; nothing reads it yet
  void add(std::string_view contents) { store_->add(contents); }

 private:
  std::unique_ptr<DiziZozFileBackedQueue> store_;
};

// Carries "$snapshot" events to the snapshot endpoint through an upload queue of their own. While the
// delegate says it is buffering, events go to the buffer instead and flushes are suppressed.
// Thread-safe.
class DiziZozReplayQueue final : public DiziZozReplayQueueing {
 public:
  using Environment = DiziZozQueue<DiziZozEvent>::Environment;

  DiziZozReplayQueue(const DiziZozConfig& config, const DiziZozStorage& storage,
                     std::shared_ptr<DiziZozApi> api,
                     std::shared_ptr<DiziZozReachabilityMonitoring> reachability, Environment environment);
  // The same with an endpoint of the caller's (tests answer uploads by hand).
  DiziZozReplayQueue(const DiziZozConfig& config, const DiziZozStorage& storage,
                     QueueEndpoint<DiziZozEvent> endpoint,
                     std::shared_ptr<DiziZozReachabilityMonitoring> reachability, Environment environment);

  void setBufferDelegate(std::weak_ptr<DiziZozReplayBufferDelegate> delegate);
  std::size_t bufferDepth() const { return bufferQueue_.depth(); }
  std::size_t depth() const { return innerQueue_->depth(); }

  DiziZozQueueing<DiziZozEvent>& innerQueue() override { return *innerQueue_; }
  void start(bool disableReachabilityForTesting, bool disableQueueTimerForTesting) {
    innerQueue_->start(disableReachabilityForTesting, disableQueueTimerForTesting);
  }
  void stop() { innerQueue_->stop(); }
  void add(DiziZozEvent event) override;
  void flush() override;

 private:
  std::shared_ptr<DiziZozReplayBufferDelegate> bufferingDelegate() const;

  std::shared_ptr<platform::SerialQueue> bufferIOQueue_;
  mutable std::mutex delegateLock_;
  std::weak_ptr<DiziZozReplayBufferDelegate> bufferDelegate_;  // delegateLock_
  std::shared_ptr<DiziZozQueue<DiziZozEvent>> innerQueue_;
  DiziZozReplayBufferQueue bufferQueue_;
};

// Replay record types: fields only, for the replay integration.
struct RRStyle {
  std::optional<std::string> color, backgroundColor, backgroundImage;
  std::optional<std::int64_t> borderWidth, borderRadius;
  std::optional<std::string> borderColor;
  std::optional<std::int64_t> fontSize;
  std::optional<std::string> fontFamily, horizontalAlign, verticalAlign;
  std::optional<std::int64_t> paddingTop, paddingBottom, paddingLeft, paddingRight;
  std::optional<std::string> bar;
};

struct RRWireframe {
  std::int64_t id = 0, posX = 0, posY = 0, width = 0, height = 0;
  std::optional<std::vector<RRWireframe>> childWireframes;
  std::optional<std::string> type, inputType, text, label;
  std::optional<Value> value;
  std::optional<std::string> base64;
  std::optional<RRStyle> style;
  std::optional<bool> disabled, checked;
  std::optional<std::vector<std::string>> options;
  std::optional<std::int64_t> max, parentId;
};

struct ViewTreeSnapshotStatus {
  bool sentFullSnapshot = false, sentMetaEvent = false, keyboardVisible = false, lastSnapshot = false;
  std::optional<std::int64_t> lastImageHash;
};

}  // namespace dizizoz
