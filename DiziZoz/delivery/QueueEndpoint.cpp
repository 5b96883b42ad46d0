#include "DiziZoz/delivery/QueueEndpoint.h"

#include <utility>

#include "DiziZoz/core/DiziZozLogsOTLP.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/delivery/DiziZozApi.h"

namespace dizizoz {
namespace {

using StorageKey = DiziZozStorage::StorageKey;

bool isLogsRetriableStatusCode(std::int64_t code) {
  return code == 408 || code == 429 || (code >= 500 && code <= 599);
}

// The event's stored object. A property that JSON cannot carry is dropped on its own (logged by the
// sanitiser), not with every other property of the event.
std::optional<std::string> encodeEvent(const DiziZozEvent& event) {
  Properties json = event.toJSON();
  if (!isValidObject(json["properties"])) {
    json["properties"] = sanitizeDictionary(event.properties).value_or(Properties::object());
  }
  return toJSONData(json);
}

std::optional<DiziZozEvent> decodeEvent(std::string_view bytes) {
  auto json = fromJSONData(bytes);
  return json ? DiziZozEvent::fromJSON(*json) : std::nullopt;
}

template <typename T>
void completeWithoutClient(std::vector<T>, typename QueueEndpoint<T>::Completion completion) {
  // Nothing can be sent: the outcome of a request that could not be built.
  if (completion) completion(DiziZozUploadInfo{});
}

// What the events and replay streams share.
QueueEndpoint<DiziZozEvent> eventEndpoint(StorageKey storageKey, std::vector<StorageKey> oldStorageKeys,
                                          std::string label) {
  return {
      .storageKey = storageKey,
      .oldStorageKeys = std::move(oldStorageKeys),
      .dispatchQueueLabel = std::move(label),
      .initialCap = [](const DiziZozConfig& config) { return config.maxBatchSize; },
      .initialFlushAt = [](const DiziZozConfig& config) { return config.flushAt; },
      .maxQueueSize = [](const DiziZozConfig& config) { return config.maxQueueSize; },
      .flushIntervalSeconds = [](const DiziZozConfig& config) { return config.flushIntervalSeconds; },
      .rateCapMax = [](const DiziZozConfig&) { return 0; },
      .rateCapWindowSeconds = [](const DiziZozConfig&) { return 0.0; },
      .encode = encodeEvent,
      .decode = decodeEvent,
      .describe = {},
      .send = completeWithoutClient<DiziZozEvent>,
      .isRetriableStatusCode = isEventsRetriableStatusCode,
  };
}

}  // namespace

bool isEventsRetriableStatusCode(std::int64_t code) {
  return (code >= 300 && code <= 399) || code == 408 || code == 429 || code == 500 || code == 502 ||
         code == 503 || code == 504;
}

template <typename T>
QueueEndpoint<T> QueueEndpoint<T>::batch(
    std::shared_ptr<DiziZozApi> api) requires std::same_as<T, DiziZozEvent> {
  auto endpoint = eventEndpoint(StorageKey::queue, {StorageKey::oldQueueFolder, StorageKey::oldQueuePlist},
                                "com.dizizoz.Queue");
  endpoint.describe = [](const DiziZozEvent& event) { return "event '" + event.event + "'"; };
  if (api) {
    endpoint.send = [api](std::vector<DiziZozEvent> events, Completion completion) {
      api->batch(events, std::move(completion));
    };
  }
  return endpoint;
}

template <typename T>
QueueEndpoint<T> QueueEndpoint<T>::snapshot(
    std::shared_ptr<DiziZozApi> api) requires std::same_as<T, DiziZozEvent> {
  auto endpoint =
      eventEndpoint(StorageKey::replayQeueue, {StorageKey::oldReplayQueue}, "com.dizizoz.ReplayQueue");
  endpoint.describe = [](const DiziZozEvent&) { return std::string("snapshot"); };
  if (api) {
    endpoint.send = [api](std::vector<DiziZozEvent> events, Completion completion) {
      api->snapshot(std::move(events), std::move(completion));
    };
  }
  return endpoint;
}

template <typename T>
QueueEndpoint<T> QueueEndpoint<T>::logs(
    std::shared_ptr<DiziZozApi> api,
    Properties resourceAttributes) requires std::same_as<T, DiziZozLogRecord> {
  QueueEndpoint<DiziZozLogRecord> endpoint{
      .storageKey = StorageKey::logsQueue,
      .oldStorageKeys = {},
      .dispatchQueueLabel = "com.dizizoz.LogsQueue",
      .initialCap = [](const DiziZozConfig& config) { return config.logs->maxBatchSize; },
      .initialFlushAt = [](const DiziZozConfig& config) { return config.logs->flushAt; },
      .maxQueueSize = [](const DiziZozConfig& config) { return config.logs->maxBufferSize; },
      .flushIntervalSeconds = [](const DiziZozConfig& config) { return config.logs->flushIntervalSeconds; },
      .rateCapMax =
          [](const DiziZozConfig& config) {
            return config.logs->rateCapMaxLogs > 0 ? config.logs->rateCapMaxLogs : 0;
          },
      .rateCapWindowSeconds =
          [](const DiziZozConfig& config) {
            return config.logs->rateCapWindowSeconds >= 0 ? config.logs->rateCapWindowSeconds : 0.0;
          },
      .encode = [](const DiziZozLogRecord& record) { return toJSONData(record.toStorageJSON()); },
      .decode = [](std::string_view bytes) -> std::optional<DiziZozLogRecord> {
        auto json = fromJSONData(bytes);
        return json ? DiziZozLogRecord::fromStorageJSON(*json) : std::nullopt;
      },
      .describe = [](const DiziZozLogRecord&) { return std::string("log"); },
      .send = completeWithoutClient<DiziZozLogRecord>,
      .isRetriableStatusCode = isLogsRetriableStatusCode,
  };
  if (api) {
    endpoint.send = [api, resourceAttributes = std::move(resourceAttributes), scopeVersion = diziZozVersion](
                        std::vector<DiziZozLogRecord> records, Completion completion) {
      api->logs(DiziZozLogsOTLP::buildPayload(records, resourceAttributes, scopeVersion),
                std::move(completion));
    };
  }
  return endpoint;
}

template struct QueueEndpoint<DiziZozEvent>;
template struct QueueEndpoint<DiziZozLogRecord>;

}  // namespace dizizoz
