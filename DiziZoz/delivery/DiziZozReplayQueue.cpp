#include "DiziZoz/delivery/DiziZozReplayQueue.h"

#include <system_error>
#include <utility>

#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "platform/SerialQueue.h"

namespace dizizoz {

namespace {

std::filesystem::path wiped(std::filesystem::path folder) {
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (ec) hedgeLog("Error trying to delete file " + folder.string() + " " + ec.message());
  std::filesystem::create_directories(folder, ec);
  if (ec) hedgeLog("Error trying to create replay buffer folder " + ec.message());
  return folder;
}

}  // namespace

DiziZozReplayBufferQueue::DiziZozReplayBufferQueue(std::filesystem::path queue,
                                                   DiziZozFileBackedQueue::Environment environment)
    : store_(std::make_unique<DiziZozFileBackedQueue>(wiped(std::move(queue)),
                                                      std::vector<std::filesystem::path>{}, environment)) {}

DiziZozReplayQueue::DiziZozReplayQueue(const DiziZozConfig& config, const DiziZozStorage& storage,
                                       std::shared_ptr<DiziZozApi> api,
                                       std::shared_ptr<DiziZozReachabilityMonitoring> reachability,
                                       Environment environment)
    : DiziZozReplayQueue(config, storage, QueueEndpoint<DiziZozEvent>::snapshot(std::move(api)),
                         std::move(reachability), std::move(environment)) {}

DiziZozReplayQueue::DiziZozReplayQueue(const DiziZozConfig& config, const DiziZozStorage& storage,
                                       QueueEndpoint<DiziZozEvent> endpoint,
                                       std::shared_ptr<DiziZozReachabilityMonitoring> reachability,
                                       Environment environment)
    : bufferIOQueue_(environment.makeSerialQueue("com.dizizoz.ReplayBufferIO")),
      innerQueue_(DiziZozQueue<DiziZozEvent>::create(config, storage, std::move(endpoint),
                                                     std::move(reachability), environment)),
      bufferQueue_(storage.url(DiziZozStorage::StorageKey::replayBufferQueue), environment.files) {}

void DiziZozReplayQueue::setBufferDelegate(std::weak_ptr<DiziZozReplayBufferDelegate> delegate) {
  std::lock_guard lock(delegateLock_);
  bufferDelegate_ = std::move(delegate);
}

std::shared_ptr<DiziZozReplayBufferDelegate> DiziZozReplayQueue::bufferingDelegate() const {
  std::shared_ptr<DiziZozReplayBufferDelegate> delegate;
  {
    std::lock_guard lock(delegateLock_);
    delegate = bufferDelegate_.lock();
  }
  if (delegate && delegate->isBuffering()) return delegate;
  return nullptr;
}

void DiziZozReplayQueue::add(DiziZozEvent event) {
  if (bufferingDelegate()) {
    auto bytes = toJSONData(event.toJSON());
    if (!bytes) {
      hedgeLog("[DiziZoz] Tried to buffer unserialisable DiziZozEvent");
      return;
    }
    bufferQueue_.add(*bytes);
    hedgeLog("Buffered replay event '" + event.event + "'. Buffer depth: " + std::to_string(bufferDepth()));
    std::shared_ptr<DiziZozReplayBufferDelegate> delegate;
    {
      std::lock_guard lock(delegateLock_);
      delegate = bufferDelegate_.lock();
    }
    if (delegate) delegate->replayQueueDidBuffer(*this);
    return;
  }
  innerQueue_->add(std::move(event));
}

void DiziZozReplayQueue::flush() {
  if (bufferingDelegate()) {
    hedgeLog("[DiziZoz] Replay queue flush suppressed \u2014 still buffering");
    return;
  }
  innerQueue_->flush();
}

}  // namespace dizizoz
