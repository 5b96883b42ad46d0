#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/Value.h"
#include "DiziZoz/delivery/DiziZozUploadInfo.h"

namespace dizizoz {

class DiziZozApi;

// Whether an answer to an event or replay-snapshot upload is worth a retry: 300 to 399, 408, 429, 500,
// 502, 503 and 504.
bool isEventsRetriableStatusCode(std::int64_t code);

// Everything that differs between the upload streams (events, replay snapshots, log records): where the
// stream's records live, its queue's label, where its limits come from, how a record becomes bytes and
// back, how it is named in diagnostics, how a batch is sent and which answers are worth a retry. A value;
// its functions keep only the service client (and, for logs, the resource attributes and scope version).
//
// The upload queue calls the limit functions once, when it is built, and the others for every record or
// batch, from any of its threads: every function is thread-safe. A factory given no service client makes
// an endpoint whose batches complete at once with the empty outcome of a request that cannot be built.
template <typename T>
struct QueueEndpoint {
  using Completion = std::function<void(DiziZozUploadInfo)>;

  DiziZozStorage::StorageKey storageKey;
  // Older locations moved into the stream's folder at start, in this order.
  std::vector<DiziZozStorage::StorageKey> oldStorageKeys;
  std::string dispatchQueueLabel;
  std::function<int(const DiziZozConfig&)> initialCap;      // batch size
  std::function<int(const DiziZozConfig&)> initialFlushAt;  // records on disk that start an upload
  std::function<int(const DiziZozConfig&)> maxQueueSize;    // records kept on disk
  std::function<double(const DiziZozConfig&)> flushIntervalSeconds;
  std::function<int(const DiziZozConfig&)> rateCapMax;  // records per window; 0 switches the cap off
  std::function<double(const DiziZozConfig&)> rateCapWindowSeconds;
  // The bytes of one record file; nothing when the record cannot be written.
  std::function<std::optional<std::string>(const T&)> encode;
  // The record of one file; nothing when the bytes are not a JSON object of the record's form.
  std::function<std::optional<T>(std::string_view)> decode;
  // The record's name in the queue's "Queued" line.
  std::function<std::string(const T&)> describe;
  // Uploads one batch in the given order; the completion runs exactly once with the outcome.
  std::function<void(std::vector<T>, Completion)> send;
  std::function<bool(std::int64_t)> isRetriableStatusCode;

  // Events: folder "dizizoz.queueFolder.uuid" (older "dizizoz.queueFolder", then "dizizoz.queue.plist"),
  // "com.dizizoz.Queue", the limits of DiziZozConfig, no rate cap, POST "/batch".
  static QueueEndpoint batch(std::shared_ptr<DiziZozApi> api) requires std::same_as<T, DiziZozEvent>;
  // Replay snapshots: folder "dizizoz.replayFolder.uuid" (older "dizizoz.replayFolder"),
  // "com.dizizoz.ReplayQueue", the limits of DiziZozConfig, no rate cap, the snapshot endpoint.
  static QueueEndpoint snapshot(std::shared_ptr<DiziZozApi> api) requires std::same_as<T, DiziZozEvent>;
  // Log records: folder "dizizoz.logsFolder", "com.dizizoz.LogsQueue", the limits and rate cap of
  // DiziZozConfig::logs (a cap of 0 or less and a negative window handed on as 0), batches sent as one
  // OTLP body with `resourceAttributes` (built once at set-up) and the SDK version of this moment as scope
  // version. 408, 429 and 500 to 599 are worth a retry.
  static QueueEndpoint logs(std::shared_ptr<DiziZozApi> api,
                            Properties resourceAttributes) requires std::same_as<T, DiziZozLogRecord>;
};

extern template struct QueueEndpoint<DiziZozEvent>;
extern template struct QueueEndpoint<DiziZozLogRecord>;

}  // namespace dizizoz
