#pragma once

#include <deque>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/HttpClient.h"

namespace platform::fake {

// HttpClient that answers from a script instead of the network. Every request is recorded. A request
// takes the next enqueued result; with none queued it waits until complete() answers it. Completions are
// posted to the executor the caller chose, as the real client does. Requests still waiting when
// cancelPending() runs, or whose token is cancelled when complete() reaches them, end as `cancelled`.
class ScriptedHttpClient final : public HttpClient {
 public:
  void send(HttpRequest request, Executor& executor, HttpCompletion completion) override;

  void enqueue(HttpResult result);
  // Answers the oldest waiting request whose URL contains `urlPart` (any, when empty); false when none
  // does.
  bool complete(HttpResult result, std::string_view urlPart = {});
  void cancelPending();

  std::vector<HttpRequest> requests() const;
  std::size_t pendingCount() const;

 private:
  struct Pending {
    HttpRequest request;
    Executor* executor;
    HttpCompletion completion;
  };
  static void deliver(Pending pending, HttpResult result);

  mutable std::mutex mutex_;
  std::deque<HttpResult> script_;
  std::deque<Pending> pending_;
  std::vector<HttpRequest> requests_;
};

}  // namespace platform::fake
