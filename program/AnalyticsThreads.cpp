#include "program/AnalyticsThreads.h"

#include <future>
#include <string>
#include <utility>

#include "platform/linux/ThreadSerialQueue.h"

namespace quorvelle {

// A serial queue whose thread ends when end() is called, after which jobs are dropped.
class AnalyticsThreads::Handle final : public platform::SerialQueue {
 public:
  explicit Handle(std::string label) : label_(std::move(label)) {}

  void async(platform::Job job) override {
    std::lock_guard guard(lock_);
    if (started()) queue_->async(std::move(job));
  }

  void sync(platform::Job job) override {
    if (isCurrent()) {
      job();
      return;
    }
    // Waits outside the lock, so that end() never waits for a caller; a job dropped by end() breaks the
    // promise, which ends the wait too.
    std::promise<void> done;
    auto finished = done.get_future();
    async([job = std::move(job), done = std::make_shared<std::promise<void>>(std::move(done))] {
      job();
      done->set_value();
    });
    finished.wait();
  }

  platform::CancelToken asyncAfter(Duration delay, platform::Job job) override {
    std::lock_guard guard(lock_);
    if (started()) return queue_->asyncAfter(delay, std::move(job));
    platform::CancelToken dropped;
    dropped.cancel();
    return dropped;
  }

  bool isCurrent() const override {
    std::lock_guard guard(lock_);
    return queue_ && queue_->isCurrent();
  }

  void end() {
    std::unique_ptr<platform::ThreadSerialQueue> queue;
    {
      std::lock_guard guard(lock_);
      ended_ = true;
      queue = std::move(queue_);
    }
    // Joins the running job, which may use this handle: it no longer holds the lock.
    queue.reset();
  }

 private:
  // The thread starts with the first job: a part that is made but never used (analytics off) costs none.
  bool started() {
    if (!queue_ && !ended_) queue_ = std::make_unique<platform::ThreadSerialQueue>(label_);
    return queue_ != nullptr;
  }

  const std::string label_;
  mutable std::mutex lock_;
  std::unique_ptr<platform::ThreadSerialQueue> queue_;  // lock_; made by the first job, null once ended
  bool ended_ = false;                                  // lock_
};

AnalyticsThreads::~AnalyticsThreads() {
  std::vector<std::shared_ptr<Handle>> handles;
  {
    std::lock_guard guard(lock_);
    handles = std::move(handles_);
  }
  // Newest first: a queue's dropped jobs may hold parts that use an older one.
  for (auto it = handles.rbegin(); it != handles.rend(); ++it) (*it)->end();
}

std::shared_ptr<platform::SerialQueue> AnalyticsThreads::makeSerialQueue(std::string_view label) {
  auto handle = std::make_shared<Handle>(std::string(label));
  std::lock_guard guard(lock_);
  handles_.push_back(handle);
  return handle;
}

}  // namespace quorvelle
