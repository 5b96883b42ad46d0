#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dizizoz {

// A registered push subscription as reset hands it on: the device token and the application id.
struct DiziZozPushRecordSnapshot {
  std::string deviceToken{};
  std::string appId{};
  bool operator==(const DiziZozPushRecordSnapshot&) const = default;
};

// The four questions the push handler asks its client. Set-up makes them; each holds the client weakly
// and answers as for a gone client ("" or false, connected true) once it has been released.
struct DiziZozPushProviders {
  std::function<std::string()> distinctId{};
  std::function<bool()> isConnected{};
  std::function<bool()> isAllowed{};
  std::function<bool()> isEnabled{};
};

// What the client needs of its push subscription handler: resending what is pending, and the reset and
// opt-out hooks. Set-up builds at most one per client through its services (none where the platform has
// no push). Thread-safe; requests run on the handler's own queues and never block the caller.
class DiziZozPushSubscriptionHandling {
 public:
  virtual ~DiziZozPushSubscriptionHandling() = default;

  // Resends a persisted or pending subscription record when the providers allow it.
  virtual void retryIfNeeded() = 0;
  // Takes the registered record away for a reset: its file is deleted and its delivery forgotten.
  virtual std::optional<DiziZozPushRecordSnapshot> recordForReset() = 0;
  // Sends, or defers, the removal of `deviceToken` for `distinctId`.
  virtual void unregister(const std::string& distinctId, const std::string& deviceToken,
                          const std::string& appId) = 0;
  // Registers the token again for the identity after a reset.
  virtual void reregisterAfterReset(const std::string& deviceToken, const std::string& appId) = 0;
  // Forgets the cached identity token and the authentication retry when the user opts out.
  virtual void optOut() = 0;
};

}  // namespace dizizoz
