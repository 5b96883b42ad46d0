#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class SecretStatus { ok, notFound, failed };

struct SecretReadResult {
  SecretStatus status = SecretStatus::notFound;
  std::string value;  // meaningful only when status is ok
};

// Generic passwords kept by the desktop's secret service, addressed by service and account. Calls are
// synchronous and may be made from any thread; a backend that cannot reach its service answers `failed`.
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
