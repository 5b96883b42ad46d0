#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/Gzip.h"
#include "DiziZoz/core/Value.h"
#include "DiziZoz/delivery/DiziZozApiError.h"
#include "DiziZoz/delivery/DiziZozUploadInfo.h"
#include "platform/Clock.h"
#include "platform/Executor.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

namespace dizizoz {

// The analytics service's addresses that remote configuration substitutes: a client configured with one
// of the default ingestion addresses (compared as exact text) fetches its configuration from that
// region's assets address instead.
struct DiziZozServiceAddresses {
  std::string usIngestion{DiziZozConfig::defaultHost};
  std::string euIngestion{DiziZozConfig::defaultEUHost};
  std::string usAssets{DiziZozConfig::usAssetsHost};
  std::string euAssets{DiziZozConfig::euAssetsHost};
};

// The most each answer of the service may hold, after content decoding. A longer answer ends its transfer
// with a `responseTooLarge` error, so a service that never stops answering costs the program no more than
// this. An upload's answer is a short status object; flags and remote configuration are the largest
// answers the service gives, and their content also has to fit the key files it is kept in.
inline constexpr std::size_t maxUploadReplyBytes = 64 * 1024;
inline constexpr std::size_t maxFlagsReplyBytes = 4 * 1024 * 1024;
inline constexpr std::size_t maxRemoteConfigReplyBytes = 1024 * 1024;

// What the client is built over besides its options. The program passes its one HTTP transport and a
// serial queue of the client's own; tests pass fakes for the clock, the delay queue and the compressor.
struct DiziZozApiEnvironment {
  platform::HttpClient& http;
  // Required: runs every completion that follows a request, one at a time. Kept alive by the client and
  // its requests in flight, but the caller must hold it too, so that the last reference never goes on
  // one of its own jobs.
  std::shared_ptr<platform::Executor> completionQueue;
  // Required: runs the delayed retries of flags requests (may be the completion queue when that is a
  // SerialQueue).
  std::shared_ptr<platform::SerialQueue> retryQueue;
  // Gives "sent_at" of batches and the "now" that Retry-After dates are measured from.
  const platform::Clock& clock = platform::SystemClock::shared();
  // The identifier of the device's current time zone ("Europe/Berlin"), asked at every flags request.
  std::function<std::string()> timeZone;
  // The whole exchange of every request, redirects included.
  std::chrono::milliseconds timeout{10'000};
  DiziZozServiceAddresses addresses;
  // Compresses upload bodies; empty means zlib's gzip at the default level. A failure sends the body
  // uncompressed.
  std::function<GzipResult(std::string_view)> compress;
};

// The analytics client's only HTTP client: it writes every request of the analytics service (paths,
// query items, headers, bodies, gzip) and turns every answer into a completion. It keeps no state beyond
// what it is built with, never blocks and never throws.
//
// Threads: every operation may be called from any thread and returns at once. Completions run exactly
// once, on the completion queue, except when the request cannot be built or its body cannot be written,
// or the client is closed: then the completion runs on the caller's thread before the operation returns.
// A flags retry is sent from the retry queue after its delay. Destroying the client cancels nothing: late
// completions still run (they hold what they need, not the client).
//
// close() ends the client's use of the transport: every request made after it, a flags retry or a parked
// flags request included, completes at once with a `cancelled` error and never reaches the transport. A
// request made on another thread while close() runs may still reach it: take the transport down after
// the threads that make requests (the client's serial queues) have ended.
//
// Headers: every request carries "Content-Type: application/json; charset=utf-8", "User-Agent:
// <sdk name>/<version>" and "Accept-Encoding: gzip", on every redirect hop. The custom headers of
// `config.requestHeaders` (as they are at construction) go only to the configured host (port aside), never
// under a reserved name ("content-type", "user-agent", "accept-encoding", "content-encoding", any case)
// and never over a header the request already has; a redirect to another host or scheme drops them.
class DiziZozApi {
 public:
  using UploadCompletion = std::function<void(DiziZozUploadInfo)>;
  using FetchCompletion = std::function<void(std::optional<Properties>, std::optional<DiziZozApiError>)>;
  using GroupProperties = std::map<std::string, Properties>;

  DiziZozApi(std::shared_ptr<DiziZozConfig> config, DiziZozApiEnvironment environment);
  ~DiziZozApi();
  DiziZozApi(const DiziZozApi&) = delete;
  DiziZozApi& operator=(const DiziZozApi&) = delete;

  // POST "/batch": {"api_key", "batch": the events in order, "sent_at"}, gzip-compressed.
  void batch(const std::vector<DiziZozEvent>& events, UploadCompletion completion);
  // POST `config.snapshotEndpoint`: the events as an array, each carrying "api_key", gzip-compressed.
  void snapshot(std::vector<DiziZozEvent> events, UploadCompletion completion);
  // POST "/i/v1/logs?token=<project token>": the payload unchanged, gzip-compressed.
  void logs(const Properties& payload, UploadCompletion completion);
  // POST and DELETE "/api/push_subscriptions/", gzip-compressed.
  void pushSubscription(const std::string& distinctId, const std::string& deviceToken,
                        const std::string& appId, const std::optional<std::string>& identityToken,
                        UploadCompletion completion);
  void deletePushSubscription(const std::string& distinctId, const std::string& deviceToken,
                              const std::string& appId, const std::optional<std::string>& identityToken,
                              UploadCompletion completion);

  // POST "/flags?v=2", uncompressed. Completes with the answer's object, or nothing and why. Timeouts,
  // lost connections and 502/504 answers are retried up to `config.featureFlagRequestMaxRetries` times,
  // after min(30, 0.3 * 2^k) seconds.
  void flags(const std::string& distinctId, const std::optional<std::string>& anonymousId,
             const std::optional<std::string>& deviceId, const std::map<std::string, std::string>& groups,
             const Properties& personProperties, const std::optional<GroupProperties>& groupProperties,
             FetchCompletion completion);
  // GET "/array/<project token>/config" on the configured host, or on the assets address of a default
  // region. Never retried.
  void remoteConfig(FetchCompletion completion);

  // Refuses every later request (see above). Requests already handed to the transport finish as usual.
  // Any thread; closing twice changes nothing.
  void close();

 private:
  struct Core;
  std::shared_ptr<Core> core_;
};

// Turns the answer of an upload into its outcome and logs it under the operation's log name ("batch",
// "logs", ...). `now` is what an HTTP date in "Retry-After" is measured from.
DiziZozUploadInfo processUploadResponse(std::string_view endpointName, const platform::HttpResult& result,
                                        Date now);

}  // namespace dizizoz
