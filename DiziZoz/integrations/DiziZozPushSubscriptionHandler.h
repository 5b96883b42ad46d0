#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/DiziZozPushSubscriptionHandling.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/RegistrationToken.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/integrations/DiziZozPushRecords.h"
#include "platform/CancelToken.h"
#include "platform/Clock.h"
#include "platform/SerialQueue.h"

namespace dizizoz {

// Keeps the analytics service told which person (distinct id) a push device token belongs to: it sends
// the stored subscription record (POST) for the current distinct id, again when the distinct id changes,
// removes the token from the previous distinct id after a reset (DELETE), and keeps both in the client's
// files ("dizizoz.pushSubscription", "dizizoz.pushPendingUnregister") until the service has taken them.
// It never fails its caller: refusals and errors end in a debug line and, where useful, in work that the
// next retryIfNeeded() (set-up, every flush) resumes.
//
// Subscriptions back off after transient failures (no answer, 429, 5xx) by the service's Retry-After or
// 5 s doubled per failure up to 30 s, and halt after `config.maxRetries` of them, after a rejection, or
// after a second 401; nothing is scheduled: the pause only makes attempts wait. A 401 re-mints the
// identity token once. The retry state and the token cache live in memory only.
//
// Threads: every public member may be called from any thread and returns without waiting for the
// network. The identity provider is called on the mint queue, context changes are handled on the work
// queue, requests are sent from the HTTP queue one at a time with a 30 s deadline each (a late answer is
// ignored; no thread waits for it), and token time-outs run on the time-out queue. `stateLock_` guards
// the retry state and the token cache, `recordLock_` the two files and the delivered id; they are never
// held together, nor while a provider or request runs, except that the mint completion asks isAllowed
// before taking `stateLock_`. Every job holds the handler weakly.
class DiziZozPushSubscriptionHandler final
    : public DiziZozPushSubscriptionHandling,
      public std::enable_shared_from_this<DiziZozPushSubscriptionHandler> {
 public:
  static constexpr std::string_view mintQueueLabel = "com.dizizoz.push.identity-mint";
  static constexpr std::string_view workQueueLabel = "com.dizizoz.push.subscription-handler";
  static constexpr std::string_view httpQueueLabel = "com.dizizoz.push.http";
  static constexpr std::string_view timeoutQueueLabel = "com.dizizoz.push.timeouts";

  // How long the identity provider may take before a request goes without a token.
  static constexpr double identityTokenMintTimeout = 10.0;
  // How long a request may go unanswered before it counts as having no status.
  static constexpr std::chrono::seconds requestDeadline{30};

  struct Environment {
    std::shared_ptr<const platform::Clock> clock;  // measures the back-off pause
    std::shared_ptr<platform::SerialQueue> mintQueue;
    std::shared_ptr<platform::SerialQueue> workQueue;
    std::shared_ptr<platform::SerialQueue> httpQueue;
    std::shared_ptr<platform::SerialQueue> timeoutQueue;
  };

  // Builds the handler and subscribes it to `parts.onEventContextChanged` (which must outlive it).
  // `parts.api` must not be null.
  static std::shared_ptr<DiziZozPushSubscriptionHandler> create(DiziZozServices::PushParts parts,
                                                                Environment environment);

  // The services-record factory: a handler on serial queues of its own per client; nothing when the
  // record gives no API client.
  static decltype(DiziZozServices::makePushHandler) servicesFactory(
      std::function<std::shared_ptr<platform::SerialQueue>(std::string_view label)> makeSerialQueue,
      std::shared_ptr<const platform::Clock> clock);

  ~DiziZozPushSubscriptionHandler() override;
  DiziZozPushSubscriptionHandler(const DiziZozPushSubscriptionHandler&) = delete;
  DiziZozPushSubscriptionHandler& operator=(const DiziZozPushSubscriptionHandler&) = delete;

  void retryIfNeeded() override;
  std::optional<DiziZozPushRecordSnapshot> recordForReset() override;
  void unregister(const std::string& distinctId, const std::string& deviceToken,
                  const std::string& appId) override;
  void reregisterAfterReset(const std::string& deviceToken, const std::string& appId) override;
  void optOut() override;

 private:
  struct Private {};

 public:
  DiziZozPushSubscriptionHandler(Private, DiziZozServices::PushParts parts, Environment environment);

 private:
  using TokenCompletion = std::function<void(std::optional<std::string>)>;
  using Request = std::function<void(DiziZozApi::UploadCompletion)>;

  struct CachedIdentityToken {
    std::string token;
    std::string distinctId;
    std::string appId;
  };
  // One request waiting for, or holding, the HTTP queue.
  struct QueuedRequest {
    Request start;
    DiziZozApi::UploadCompletion completion;
  };

  void onEventContextChanged(const Properties& context);
  void resendIfDistinctIdChanged(const std::string& current);

  void attemptIfAllowed(const std::string& deviceToken, const std::string& appId);
  void sendSubscription(const std::string& distinctId, const std::string& deviceToken,
                        const std::string& appId, const std::optional<std::string>& identityToken);
  void handleSubscriptionResult(const DiziZozUploadInfo& info, const std::string& distinctId,
                                const std::string& deviceToken, const std::string& appId);
  void handleFailure(const DiziZozUploadInfo& info, const std::string& deviceToken, const std::string& appId);
  void runPendingResend();
  void resetRetryState();

  void attemptUnregister(const DiziZozPushPendingUnregister& pending, bool isRetry);
  void sendUnregister(const DiziZozPushPendingUnregister& pending, bool isRetry,
                      const std::optional<std::string>& identityToken);
  void handleUnregisterResult(const DiziZozUploadInfo& info, const DiziZozPushPendingUnregister& pending,
                              bool isRetry);
  void clearPendingUnregisterIfEqual(const DiziZozPushPendingUnregister& pending);

  void resolveIdentityToken(const std::string& distinctId, const std::string& appId,
                            TokenCompletion completion);

  // Hands `start` to the HTTP queue; `completion` runs there with its answer, or with an empty result
  // when none came within the deadline.
  void performSerialized(Request start, DiziZozApi::UploadCompletion completion);
  void startNextRequest();                                       // on the HTTP queue
  void finishRequest(std::uint64_t id, DiziZozUploadInfo info);  // on the HTTP queue

  // With recordLock_ held. Loading or writing the record refreshes the delivered id.
  std::optional<DiziZozPushPendingRecord> loadRecordLocked();
  void writeRecordLocked(const DiziZozPushPendingRecord& record);

  std::shared_ptr<DiziZozApi> api_;
  std::shared_ptr<DiziZozStorage> storage_;
  std::shared_ptr<DiziZozConfig> config_;
  DiziZozPushProviders providers_;
  Environment environment_;

  std::mutex stateLock_;
  int retryCount_ = 0;
  std::optional<std::chrono::system_clock::time_point> pausedUntil_;
  bool isSending_ = false;
  bool pendingResend_ = false;
  bool halted_ = false;
  std::optional<CachedIdentityToken> cachedIdentityToken_;
  bool didAuthRetry_ = false;

  std::mutex recordLock_;
  // Outer empty: not loaded yet; inner empty: no record, or one never delivered.
  std::optional<std::optional<std::string>> cachedDeliveredDistinctId_;

  // Touched only on the HTTP queue.
  std::deque<QueuedRequest> waitingRequests_;
  std::optional<QueuedRequest> inFlight_;
  std::uint64_t inFlightId_ = 0;
  platform::CancelToken inFlightDeadline_;

  RegistrationToken contextChangedToken_;
};

}  // namespace dizizoz
