#pragma once

#include <string>
#include <string_view>

namespace platform {

// `unavailable`: this system has no way to reach a keyring at all (its client library cannot be loaded),
// so trying again will not help; `failed`: the keyring was there but failed or did not answer.
enum class SecretStatus { ok, notFound, failed, unavailable };

struct SecretReadResult {
  SecretStatus status = SecretStatus::notFound;
  std::string value;  // meaningful only when status is ok
};

// Generic passwords kept by the desktop's secret service, addressed by service and account. Calls are
// synchronous and may be made from any thread; a backend that cannot reach its service answers `failed`,
// one that cannot be used on this system `unavailable`.
class SecretStore {
 public:
  virtual ~SecretStore() = default;
  virtual SecretReadResult read(std::string_view service, std::string_view account) = 0;
  // Adds the item or replaces its value.
  virtual SecretStatus write(std::string_view service, std::string_view account, std::string_view value) = 0;
  // `notFound` when there was nothing to delete.
  virtual SecretStatus remove(std::string_view service, std::string_view account) = 0;
};

}  // namespace platform
