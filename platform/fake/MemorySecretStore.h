#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/SecretStore.h"

namespace platform::fake {

// SecretStore in memory. With the failure switch on, every call answers `failed` and changes nothing; with
// the unavailable switch on, `unavailable` (the keyring's library could not be loaded).
class MemorySecretStore final : public SecretStore {
 public:
  SecretReadResult read(std::string_view service, std::string_view account) override;
  SecretStatus write(std::string_view service, std::string_view account, std::string_view value) override;
  SecretStatus remove(std::string_view service, std::string_view account) override;

  void setFailing(bool failing);
  void setUnavailable(bool unavailable);
  int readCount() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::string> items_;
  std::optional<SecretStatus> failure_;  // what every call answers, when set
  int reads_ = 0;
};

}  // namespace platform::fake
