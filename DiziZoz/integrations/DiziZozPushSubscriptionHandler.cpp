#include "DiziZoz/integrations/DiziZozPushSubscriptionHandler.h"

#include <array>
#include <charconv>
#include <cmath>
#include <thread>
#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz {
namespace {

using std::chrono::duration_cast;

// Seconds as the diagnostics print them: at least one decimal (5.0, 2.5).
std::string secondsText(double seconds) {
  char buffer[64];
  const bool whole = std::isfinite(seconds) && seconds == std::floor(seconds) && std::fabs(seconds) < 1e15;
  const auto result =
      whole ? std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 1)
            : std::to_chars(buffer, buffer + sizeof buffer, seconds);
  return std::string(buffer, result.ptr);
}

bool isSuccess(const std::optional<std::int64_t>& status) {
  return status && *status >= 200 && *status <= 299;
}

// No answer, too many requests, or a server error: worth trying again later.
bool isTransient(const std::optional<std::int64_t>& status) {
  return !status || *status == 429 || (*status >= 500 && *status <= 599);
}

}  // namespace

std::shared_ptr<DiziZozPushSubscriptionHandler> DiziZozPushSubscriptionHandler::create(
    DiziZozServices::PushParts parts, Environment environment) {
  auto* callback = parts.onEventContextChanged;
  auto handler =
      std::make_shared<DiziZozPushSubscriptionHandler>(Private{}, std::move(parts), std::move(environment));
  if (callback) {
    std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = handler;
    handler->contextChangedToken_ = callback->subscribe([weakSelf](const Properties& context) {
      if (auto self = weakSelf.lock()) self->onEventContextChanged(context);
    });
  }
  return handler;
}

decltype(DiziZozServices::makePushHandler) DiziZozPushSubscriptionHandler::servicesFactory(
    std::function<std::shared_ptr<platform::SerialQueue>(std::string_view label)> makeSerialQueue,
    std::shared_ptr<const platform::Clock> clock) {
  return [makeSerialQueue = std::move(makeSerialQueue), clock = std::move(clock)](
             DiziZozServices::PushParts parts) -> std::shared_ptr<DiziZozPushSubscriptionHandling> {
    if (!parts.api) return nullptr;
    return create(std::move(parts), {.clock = clock,
                                     .mintQueue = makeSerialQueue(mintQueueLabel),
                                     .workQueue = makeSerialQueue(workQueueLabel),
                                     .httpQueue = makeSerialQueue(httpQueueLabel),
                                     .timeoutQueue = makeSerialQueue(timeoutQueueLabel)});
  };
}

DiziZozPushSubscriptionHandler::DiziZozPushSubscriptionHandler(Private, DiziZozServices::PushParts parts,
                                                               Environment environment)
    : api_(std::move(parts.api)),
      storage_(std::move(parts.storage)),
      config_(std::move(parts.config)),
      providers_(std::move(parts.providers)),
      environment_(std::move(environment)) {}

DiziZozPushSubscriptionHandler::~DiziZozPushSubscriptionHandler() {
  contextChangedToken_.release();
  // The last owner may let go while one of the handler's own jobs holds it. A queue cannot be torn down
  // from its own thread (its worker would join itself), so then the queues go on a thread of their own.
  auto& e = environment_;
  if (e.mintQueue->isCurrent() || e.workQueue->isCurrent() || e.httpQueue->isCurrent() ||
      e.timeoutQueue->isCurrent()) {
    std::thread([queues = std::array{std::move(e.mintQueue), std::move(e.workQueue), std::move(e.httpQueue),
                                     std::move(e.timeoutQueue)}] {
    }).detach();
  }
}

// MARK: - Records

std::optional<DiziZozPushPendingRecord> DiziZozPushSubscriptionHandler::loadRecordLocked() {
  auto record = loadPushRecord(*storage_);
  cachedDeliveredDistinctId_ = record ? record->deliveredForDistinctId : std::nullopt;
  return record;
}

void DiziZozPushSubscriptionHandler::writeRecordLocked(const DiziZozPushPendingRecord& record) {
  writePushRecord(*storage_, record);
  cachedDeliveredDistinctId_ = record.deliveredForDistinctId;
}

void DiziZozPushSubscriptionHandler::clearPendingUnregisterIfEqual(
    const DiziZozPushPendingUnregister& pending) {
  std::lock_guard lock(recordLock_);
  if (loadPushPendingUnregister(*storage_) == pending) deletePushPendingUnregister(*storage_);
}

// MARK: - Entry points

void DiziZozPushSubscriptionHandler::retryIfNeeded() {
  std::optional<DiziZozPushPendingRecord> record;
  {
    std::lock_guard lock(recordLock_);
    record = loadRecordLocked();
  }
  std::optional<DiziZozPushPendingUnregister> pending;
  {
    std::lock_guard lock(recordLock_);
    pending = loadPushPendingUnregister(*storage_);
  }

  if (pending) {
    const bool obsolete =
        record && pending->distinctId == providers_.distinctId() && pending->appId == record->appId;
    if (obsolete)
      clearPendingUnregisterIfEqual(*pending);
    else
      attemptUnregister(*pending, false);
  }

  if (!record) return;
  const std::string current = providers_.distinctId();
  if (current.empty() || record->deliveredForDistinctId == current) return;
  // A record never delivered keeps the retry state, so that a halted handler stays halted until reset.
  if (record->deliveredForDistinctId) resetRetryState();
  attemptIfAllowed(record->deviceToken, record->appId);
}

std::optional<DiziZozPushRecordSnapshot> DiziZozPushSubscriptionHandler::recordForReset() {
  std::lock_guard lock(recordLock_);
  auto record = loadRecordLocked();
  if (!record) return std::nullopt;
  deletePushRecord(*storage_);
  cachedDeliveredDistinctId_ = std::optional<std::string>{};
  return DiziZozPushRecordSnapshot{record->deviceToken, record->appId};
}

void DiziZozPushSubscriptionHandler::unregister(const std::string& distinctId, const std::string& deviceToken,
                                                const std::string& appId) {
  if (distinctId.empty() || deviceToken.empty() || appId.empty()) {
    hedgeLog("[DiziZoz] Push unregister skipped: missing distinct id, token, or app id.");
    return;
  }
  const DiziZozPushPendingUnregister pending{distinctId, deviceToken, appId};
  {
    std::lock_guard lock(recordLock_);
    writePushPendingUnregister(*storage_, pending);
  }
  if (providers_.isEnabled())
    attemptUnregister(pending, false);
  else
    hedgeLog("[DiziZoz] Push unregister deferred: SDK is disabled. Will retry on flush/next launch.");
}

void DiziZozPushSubscriptionHandler::reregisterAfterReset(const std::string& deviceToken,
                                                          const std::string& appId) {
  {
    std::lock_guard lock(recordLock_);
    if (loadRecordLocked()) {
      hedgeLog("[DiziZoz] Push re-register after reset skipped: a newer token superseded the snapshot.");
      return;
    }
    writeRecordLocked({deviceToken, appId, std::nullopt});
  }
  resetRetryState();
  attemptIfAllowed(deviceToken, appId);
}

void DiziZozPushSubscriptionHandler::optOut() {
  std::lock_guard lock(stateLock_);
  cachedIdentityToken_.reset();
  didAuthRetry_ = false;
}

// MARK: - Distinct id changes

void DiziZozPushSubscriptionHandler::onEventContextChanged(const Properties& context) {
  if (!context.is_object()) return;
  const auto entry = context.find("distinct_id");
  if (entry == context.end() || !entry->is_string()) return;
  std::string current = entry->get<std::string>();
  if (current.empty()) return;
  {
    // Only the in-memory copy: context changes are frequent and must not touch the disk.
    std::lock_guard lock(recordLock_);
    if (cachedDeliveredDistinctId_ &&
        (!*cachedDeliveredDistinctId_ || **cachedDeliveredDistinctId_ == current))
      return;
  }
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  environment_.workQueue->async([weakSelf, current = std::move(current)] {
    if (auto self = weakSelf.lock()) self->resendIfDistinctIdChanged(current);
  });
}

void DiziZozPushSubscriptionHandler::resendIfDistinctIdChanged(const std::string& current) {
  std::optional<DiziZozPushPendingRecord> record;
  {
    std::lock_guard lock(recordLock_);
    record = loadRecordLocked();
  }
  if (!record || !record->deliveredForDistinctId || *record->deliveredForDistinctId == current) return;
  resetRetryState();
  attemptIfAllowed(record->deviceToken, record->appId);
}

// MARK: - Subscription

void DiziZozPushSubscriptionHandler::attemptIfAllowed(const std::string& deviceToken,
                                                      const std::string& appId) {
  if (!providers_.isAllowed()) {
    hedgeLog("[DiziZoz] Push subscription not sent: SDK is disabled or opted out.");
    return;
  }
  const std::string distinctId = providers_.distinctId();
  if (distinctId.empty()) {
    hedgeLog("[DiziZoz] Push subscription deferred: no distinct id yet.");
    return;
  }
  if (!providers_.isConnected()) {
    hedgeLog("[DiziZoz] Push subscription deferred: no network connection.");
    return;
  }
  {
    std::lock_guard lock(stateLock_);
    if (halted_) return;
    if (isSending_) {
      pendingResend_ = true;
      return;
    }
    if (pausedUntil_ && *pausedUntil_ > environment_.clock->now()) return;
    isSending_ = true;
  }
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  resolveIdentityToken(distinctId, appId,
                       [weakSelf, distinctId, deviceToken, appId](std::optional<std::string> token) {
                         if (auto self = weakSelf.lock())
                           self->sendSubscription(distinctId, deviceToken, appId, token);
                       });
}

void DiziZozPushSubscriptionHandler::sendSubscription(const std::string& distinctId,
                                                      const std::string& deviceToken,
                                                      const std::string& appId,
                                                      const std::optional<std::string>& identityToken) {
  if (!providers_.isAllowed()) {
    std::lock_guard lock(stateLock_);
    isSending_ = false;
    pendingResend_ = false;
    return;
  }
  if (providers_.distinctId() != distinctId) {
    hedgeLog("[DiziZoz] Push subscription skipped: distinct id changed while minting the identity token.");
    bool resend = false;
    {
      std::lock_guard lock(stateLock_);
      isSending_ = false;
      resend = std::exchange(pendingResend_, false);
    }
    if (resend) runPendingResend();
    return;
  }
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  performSerialized(
      [api = api_, distinctId, deviceToken, appId, identityToken](DiziZozApi::UploadCompletion done) {
        api->pushSubscription(distinctId, deviceToken, appId, identityToken, std::move(done));
      },
      [weakSelf, distinctId, deviceToken, appId](DiziZozUploadInfo info) {
        if (auto self = weakSelf.lock()) self->handleSubscriptionResult(info, distinctId, deviceToken, appId);
      });
}

void DiziZozPushSubscriptionHandler::handleSubscriptionResult(const DiziZozUploadInfo& info,
                                                              const std::string& distinctId,
                                                              const std::string& deviceToken,
                                                              const std::string& appId) {
  bool resend = false;
  {
    std::lock_guard lock(stateLock_);
    isSending_ = false;
    resend = std::exchange(pendingResend_, false);
  }
  if (isSuccess(info.statusCode)) {
    {
      std::lock_guard lock(recordLock_);
      auto record = loadRecordLocked();
      if (record && record->deviceToken == deviceToken && record->appId == appId) {
        writeRecordLocked({deviceToken, appId, distinctId});
        if (loadPushPendingUnregister(*storage_) ==
            DiziZozPushPendingUnregister{distinctId, deviceToken, appId})
          deletePushPendingUnregister(*storage_);
      }
    }
    resetRetryState();
    hedgeLog("[DiziZoz] Push subscription sent successfully.");
  } else {
    handleFailure(info, deviceToken, appId);
  }
  if (resend) runPendingResend();
}

void DiziZozPushSubscriptionHandler::handleFailure(const DiziZozUploadInfo& info,
                                                   const std::string& deviceToken, const std::string& appId) {
  const auto status = info.statusCode;
  const bool hasProvider = static_cast<bool>(config_->pushIdentityProvider);
  if (status == 401 && hasProvider) {
    bool retry = false;
    {
      std::lock_guard lock(stateLock_);
      if (!didAuthRetry_) {
        didAuthRetry_ = true;
        cachedIdentityToken_.reset();
        retry = true;
      } else {
        halted_ = true;
      }
    }
    if (retry) {
      hedgeLog("[DiziZoz] Push subscription rejected (401). Retrying once with a fresh identity token.");
      attemptIfAllowed(deviceToken, appId);
    } else {
      hedgeLog("Push subscription rejected (status 401). Keeping record for next launch.");
    }
    return;
  }
  if (status == 401) {
    {
      std::lock_guard lock(stateLock_);
      halted_ = true;
    }
    hedgeLog(
        "[DiziZoz] Push subscription rejected (401): identity verification may be required — set "
        "config.pushIdentityProvider. Keeping record for next launch.");
    return;
  }
  if (!isTransient(status)) {
    {
      std::lock_guard lock(stateLock_);
      halted_ = true;
    }
    hedgeLog("Push subscription rejected (status " + std::to_string(*status) +
             "). Keeping record for next launch.");
    return;
  }

  const int maxRetries = config_->maxRetries;
  int attempt = 0;
  bool halt = false;
  double delay = 0;
  {
    std::lock_guard lock(stateLock_);
    attempt = ++retryCount_;
    halt = maxRetries < attempt;
    if (halt) {
      halted_ = true;
    } else {
      delay = pushBackoffSeconds(attempt, info.retryAfter);
      pausedUntil_ = addingSeconds(environment_.clock->now(), delay);
    }
  }
  if (halt) {
    hedgeLog("Push subscription: max retries (" + std::to_string(maxRetries) +
             ") exceeded. Keeping record for next launch.");
  } else {
    hedgeLog("Push subscription failed (attempt " + std::to_string(attempt) + "/" +
             std::to_string(maxRetries) + "). Retrying in " + secondsText(delay) + "s.");
  }
}

void DiziZozPushSubscriptionHandler::runPendingResend() {
  {
    std::lock_guard lock(stateLock_);
    if (isSending_) {
      pendingResend_ = true;
      return;
    }
  }
  std::optional<DiziZozPushPendingRecord> record;
  {
    std::lock_guard lock(recordLock_);
    record = loadRecordLocked();
  }
  if (!record) return;
  resetRetryState();
  attemptIfAllowed(record->deviceToken, record->appId);
}

void DiziZozPushSubscriptionHandler::resetRetryState() {
  std::lock_guard lock(stateLock_);
  retryCount_ = 0;
  pausedUntil_.reset();
  halted_ = false;
  didAuthRetry_ = false;
}

// MARK: - Unsubscription

void DiziZozPushSubscriptionHandler::attemptUnregister(const DiziZozPushPendingUnregister& pending,
                                                       bool isRetry) {
  if (!providers_.isEnabled()) return;
  if (!providers_.isConnected()) {
    hedgeLog("[DiziZoz] Push unregister deferred: no network connection. Will retry on flush/next launch.");
    return;
  }
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  resolveIdentityToken(pending.distinctId, pending.appId,
                       [weakSelf, pending, isRetry](std::optional<std::string> token) {
                         if (auto self = weakSelf.lock()) self->sendUnregister(pending, isRetry, token);
                       });
}

void DiziZozPushSubscriptionHandler::sendUnregister(const DiziZozPushPendingUnregister& pending, bool isRetry,
                                                    const std::optional<std::string>& identityToken) {
  if (!providers_.isEnabled()) return;
  std::optional<DiziZozPushPendingRecord> record;
  {
    std::lock_guard lock(recordLock_);
    // Replaced or cleared while the token was being minted.
    if (loadPushPendingUnregister(*storage_) != pending) return;
    record = loadRecordLocked();
  }
  if (record && providers_.distinctId() == pending.distinctId && record->appId == pending.appId) {
    clearPendingUnregisterIfEqual(pending);
    return;
  }
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  performSerialized(
      [api = api_, pending, identityToken](DiziZozApi::UploadCompletion done) {
        api->deletePushSubscription(pending.distinctId, pending.deviceToken, pending.appId, identityToken,
                                    std::move(done));
      },
      [weakSelf, pending, isRetry](DiziZozUploadInfo info) {
        if (auto self = weakSelf.lock()) self->handleUnregisterResult(info, pending, isRetry);
      });
}

void DiziZozPushSubscriptionHandler::handleUnregisterResult(const DiziZozUploadInfo& info,
                                                            const DiziZozPushPendingUnregister& pending,
                                                            bool isRetry) {
  const auto status = info.statusCode;
  if (isSuccess(status)) {
    clearPendingUnregisterIfEqual(pending);
    hedgeLog("[DiziZoz] Push subscription unregistered successfully.");
    return;
  }
  if (status == 401 && config_->pushIdentityProvider && !isRetry) {
    {
      std::lock_guard lock(stateLock_);
      cachedIdentityToken_.reset();
    }
    hedgeLog("[DiziZoz] Push unregister rejected (401). Retrying once with a fresh identity token.");
    attemptUnregister(pending, true);
    return;
  }
  const std::string statusText = status ? std::to_string(*status) : "none";
  if (isTransient(status)) {
    hedgeLog("Push unregister failed (status " + statusText + "); will retry on flush/next launch.");
    return;
  }
  clearPendingUnregisterIfEqual(pending);
  hedgeLog("Push unregister failed (status " + statusText + "); dropping (best-effort).");
}

// MARK: - Identity token

void DiziZozPushSubscriptionHandler::resolveIdentityToken(const std::string& distinctId,
                                                          const std::string& appId,
                                                          TokenCompletion completion) {
  if (!config_->pushIdentityProvider) {
    hedgeLog("[DiziZoz] No identity token attached to push request (no pushIdentityProvider).");
    completion(std::nullopt);
    return;
  }
  std::optional<std::string> cached;
  {
    std::lock_guard lock(stateLock_);
    if (cachedIdentityToken_ && cachedIdentityToken_->distinctId == distinctId &&
        cachedIdentityToken_->appId == appId)
      cached = cachedIdentityToken_->token;
  }
  if (cached) {
    hedgeLog("[DiziZoz] Attaching cached identity token to push request.");
    completion(std::move(cached));
    return;
  }

  // Whichever of the provider and the time-out comes first completes; `finished` is guarded by stateLock_.
  auto finished = std::make_shared<bool>(false);
  auto done = std::make_shared<TokenCompletion>(std::move(completion));
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  const auto timeout =
      duration_cast<platform::SerialQueue::Duration>(std::chrono::duration<double>(identityTokenMintTimeout));
  const platform::CancelToken timer =
      environment_.timeoutQueue->asyncAfter(timeout, [weakSelf, finished, done] {
        auto self = weakSelf.lock();
        if (!self) return;
        {
          std::lock_guard lock(self->stateLock_);
          if (std::exchange(*finished, true)) return;
        }
        hedgeLog("pushIdentityProvider did not complete within " + secondsText(identityTokenMintTimeout) +
                 "s; sending without identity token.");
        (*done)(std::nullopt);
      });

  environment_.mintQueue->async([weakSelf, finished, done, timer, distinctId, appId] {
    auto self = weakSelf.lock();
    if (!self) return;
    auto provider = self->config_->pushIdentityProvider;
    provider(distinctId, appId,
             [weakSelf, finished, done, timer, distinctId, appId](std::optional<std::string> token) {
               auto self = weakSelf.lock();
               if (!self) return;
               // Asked before stateLock_: the provider takes the client's own locks.
               const bool cacheIt = token && self->providers_.isAllowed();
               {
                 std::lock_guard lock(self->stateLock_);
                 // A late token is still kept for the next request.
                 if (cacheIt) self->cachedIdentityToken_ = CachedIdentityToken{*token, distinctId, appId};
                 if (std::exchange(*finished, true)) return;
               }
               timer.cancel();
               hedgeLog(token ? "Attaching freshly minted identity token to push request."
                              : "No identity token attached to push request (provider completed nil).");
               (*done)(std::move(token));
             });
  });
}

// MARK: - Serialised requests

void DiziZozPushSubscriptionHandler::performSerialized(Request start,
                                                       DiziZozApi::UploadCompletion completion) {
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  environment_.httpQueue->async(
      [weakSelf, request = QueuedRequest{std::move(start), std::move(completion)}]() mutable {
        auto self = weakSelf.lock();
        if (!self) return;
        self->waitingRequests_.push_back(std::move(request));
        if (!self->inFlight_) self->startNextRequest();
      });
}

void DiziZozPushSubscriptionHandler::startNextRequest() {
  if (waitingRequests_.empty()) return;
  inFlight_ = std::move(waitingRequests_.front());
  waitingRequests_.pop_front();
  const std::uint64_t id = ++inFlightId_;
  std::weak_ptr<DiziZozPushSubscriptionHandler> weakSelf = weak_from_this();
  inFlightDeadline_ = environment_.httpQueue->asyncAfter(requestDeadline, [weakSelf, id] {
    if (auto self = weakSelf.lock()) self->finishRequest(id, {});
  });
  // The answer is moved to the HTTP queue, where it is judged unless the deadline came first.
  inFlight_->start([weakSelf, id, queue = environment_.httpQueue](DiziZozUploadInfo info) {
    queue->async([weakSelf, id, info = std::move(info)]() mutable {
      if (auto self = weakSelf.lock()) self->finishRequest(id, std::move(info));
    });
  });
}

void DiziZozPushSubscriptionHandler::finishRequest(std::uint64_t id, DiziZozUploadInfo info) {
  if (!inFlight_ || id != inFlightId_) return;  // answered after its deadline, or the deadline after it
  inFlightDeadline_.cancel();
  auto completion = std::move(inFlight_->completion);
  inFlight_.reset();
  completion(std::move(info));
  startNextRequest();
}

}  // namespace dizizoz
