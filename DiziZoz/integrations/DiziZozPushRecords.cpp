#include "DiziZoz/integrations/DiziZozPushRecords.h"

#include <algorithm>
#include <cmath>

#include "DiziZoz/core/DiziZozStorage.h"

namespace dizizoz {
namespace {

// The stored object when every value in it is a string.
std::optional<Value> stringObject(const DiziZozStorage& storage, DiziZozStorage::StorageKey key) {
  auto json = storage.getJson(key);
  if (!json || !json->is_object()) return std::nullopt;
  for (const auto& [name, value] : json->items()) {
    if (!value.is_string()) return std::nullopt;
  }
  return json;
}

std::optional<std::string> stringAt(const Value& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end()) return std::nullopt;
  return found->get<std::string>();
}

}  // namespace

std::optional<DiziZozPushPendingRecord> loadPushRecord(const DiziZozStorage& storage) {
  auto json = stringObject(storage, DiziZozStorage::StorageKey::pushSubscription);
  if (!json) return std::nullopt;
  auto deviceToken = stringAt(*json, "deviceToken");
  auto appId = stringAt(*json, "appId");
  if (!deviceToken || !appId) return std::nullopt;
  return DiziZozPushPendingRecord{std::move(*deviceToken), std::move(*appId),
                                  stringAt(*json, "deliveredForDistinctId")};
}

void writePushRecord(DiziZozStorage& storage, const DiziZozPushPendingRecord& record) {
  Value json{{"deviceToken", record.deviceToken}, {"appId", record.appId}};
  if (record.deliveredForDistinctId) json["deliveredForDistinctId"] = *record.deliveredForDistinctId;
  storage.setJson(DiziZozStorage::StorageKey::pushSubscription, json);
}

void deletePushRecord(const DiziZozStorage& storage) {
  deleteSafely(storage.url(DiziZozStorage::StorageKey::pushSubscription));
}

std::optional<DiziZozPushPendingUnregister> loadPushPendingUnregister(const DiziZozStorage& storage) {
  auto json = stringObject(storage, DiziZozStorage::StorageKey::pushPendingUnregister);
  if (!json) return std::nullopt;
  auto distinctId = stringAt(*json, "distinctId");
  auto deviceToken = stringAt(*json, "deviceToken");
  auto appId = stringAt(*json, "appId");
  if (!distinctId || !deviceToken || !appId) return std::nullopt;
  return DiziZozPushPendingUnregister{std::move(*distinctId), std::move(*deviceToken), std::move(*appId)};
}

void writePushPendingUnregister(DiziZozStorage& storage, const DiziZozPushPendingUnregister& pending) {
  storage.setJson(DiziZozStorage::StorageKey::pushPendingUnregister,
                  Value{{"distinctId", pending.distinctId},
                        {"deviceToken", pending.deviceToken},
                        {"appId", pending.appId}});
}

void deletePushPendingUnregister(const DiziZozStorage& storage) {
  deleteSafely(storage.url(DiziZozStorage::StorageKey::pushPendingUnregister));
}

double pushBackoffSeconds(int attempt, std::optional<double> retryAfterSeconds) {
  if (retryAfterSeconds) return *retryAfterSeconds;
  // Capped before doubling runs away: from the fourth attempt on the cap holds anyway.
  const int exponent = std::clamp(attempt - 1, 0, 3);
  return std::min(5.0 * std::pow(2.0, exponent), 30.0);
}

}  // namespace dizizoz
