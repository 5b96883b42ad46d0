#pragma once

#include <optional>
#include <string>

namespace dizizoz {

class DiziZozStorage;

// The push subscription the service should know of: a device token and application id, and the
// distinct id for which the service last accepted them (none until then). Stored as a JSON object of
// strings in "dizizoz.pushSubscription".
struct DiziZozPushPendingRecord {
  std::string deviceToken{};
  std::string appId{};
  std::optional<std::string> deliveredForDistinctId{};
  bool operator==(const DiziZozPushPendingRecord&) const = default;
};

// A removal of a token from a distinct id that has not reached the service yet. One slot, stored as a
// JSON object of strings in "dizizoz.pushPendingUnregister".
struct DiziZozPushPendingUnregister {
  std::string distinctId{};
  std::string deviceToken{};
  std::string appId{};
  bool operator==(const DiziZozPushPendingUnregister&) const = default;
};

// The readers are tolerant: a missing or unreadable file, a value that is not an object of strings or a
// required key missing all count as no record. Callers serialise access (the handler's record lock).
std::optional<DiziZozPushPendingRecord> loadPushRecord(const DiziZozStorage& storage);
void writePushRecord(DiziZozStorage& storage, const DiziZozPushPendingRecord& record);
void deletePushRecord(const DiziZozStorage& storage);

std::optional<DiziZozPushPendingUnregister> loadPushPendingUnregister(const DiziZozStorage& storage);
void writePushPendingUnregister(DiziZozStorage& storage, const DiziZozPushPendingUnregister& pending);
void deletePushPendingUnregister(const DiziZozStorage& storage);

// The pause after the n-th failed subscription attempt in a row (n >= 1): the service's Retry-After
// when it sent one, else 5 s doubled per attempt, at most 30 s.
double pushBackoffSeconds(int attempt, std::optional<double> retryAfterSeconds);

}  // namespace dizizoz
