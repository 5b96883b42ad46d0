#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "DiziZoz/core/DiziZozLogSeverity.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

class DiziZozSDK;

// The application's structured-logging object: one entry point per level, each with or without
// attributes, all leading to the client's log capture (no trace id, span id or trace flags). Set-up makes
// one per client; it refers to its client weakly, so logging through it after the client is gone does
// nothing. Any thread; it never fails its caller.
class DiziZozLogger {
 public:
  explicit DiziZozLogger(std::weak_ptr<DiziZozSDK> sdk) : sdk(std::move(sdk)) {}
  virtual ~DiziZozLogger() = default;

  void trace(const std::string& body, std::optional<Properties> attributes = std::nullopt);
  void debug(const std::string& body, std::optional<Properties> attributes = std::nullopt);
  void info(const std::string& body, std::optional<Properties> attributes = std::nullopt);
  void warn(const std::string& body, std::optional<Properties> attributes = std::nullopt);
  void error(const std::string& body, std::optional<Properties> attributes = std::nullopt);
  void fatal(const std::string& body, std::optional<Properties> attributes = std::nullopt);

  const std::weak_ptr<DiziZozSDK> sdk;

 private:
  void log(const std::string& body, DiziZozLogSeverity level, std::optional<Properties> attributes);
};

}  // namespace dizizoz
