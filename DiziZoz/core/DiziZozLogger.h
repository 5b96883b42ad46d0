#pragma once

#include <memory>
#include <utility>

namespace dizizoz {

class DiziZozSDK;

// The application's structured-logging object. Set-up makes one per client; it refers to its client
// weakly, so logging through it after the client is gone does nothing.
class DiziZozLogger {
 public:
  explicit DiziZozLogger(std::weak_ptr<DiziZozSDK> sdk) : sdk(std::move(sdk)) {}
  virtual ~DiziZozLogger() = default;

  const std::weak_ptr<DiziZozSDK> sdk;
};

}  // namespace dizizoz
