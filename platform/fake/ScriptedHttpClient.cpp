#include "platform/fake/ScriptedHttpClient.h"

#include <algorithm>

namespace platform::fake {

void ScriptedHttpClient::deliver(Pending pending, HttpResult result) {
  if (pending.request.cancel.isCancelled() && result.ok()) {
    result = HttpResult();
    result.error = HttpError{HttpErrorKind::cancelled, "cancelled"};
  }
  pending.executor->post([completion = std::move(pending.completion), result = std::move(result)]() mutable {
    completion(std::move(result));
  });
}

void ScriptedHttpClient::send(HttpRequest request, Executor& executor, HttpCompletion completion) {
  std::unique_lock lock(mutex_);
  requests_.push_back(request);
  Pending pending{std::move(request), &executor, std::move(completion)};
  if (script_.empty()) {
    pending_.push_back(std::move(pending));
    return;
  }
  HttpResult result = std::move(script_.front());
  script_.pop_front();
  lock.unlock();
  deliver(std::move(pending), std::move(result));
}

void ScriptedHttpClient::enqueue(HttpResult result) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(result));
}

bool ScriptedHttpClient::complete(HttpResult result, std::string_view urlPart) {
  std::unique_lock lock(mutex_);
  const auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& pending) {
    return pending.request.url.find(urlPart) != std::string::npos;
  });
  if (it == pending_.end()) return false;
  Pending pending = std::move(*it);
  pending_.erase(it);
  lock.unlock();
  deliver(std::move(pending), std::move(result));
  return true;
}

void ScriptedHttpClient::cancelPending() {
  std::deque<Pending> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting.swap(pending_);
  }
  for (auto& pending : waiting) {
    HttpResult result;
    result.error = HttpError{HttpErrorKind::cancelled, "cancelled"};
    deliver(std::move(pending), std::move(result));
  }
}

std::vector<HttpRequest> ScriptedHttpClient::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t ScriptedHttpClient::pendingCount() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

}  // namespace platform::fake
