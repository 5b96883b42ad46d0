#include "DiziZoz/core/DiziZozLogger.h"

#include "DiziZoz/core/DiziZozSDK.h"

namespace dizizoz {

void DiziZozLogger::log(const std::string& body, DiziZozLogSeverity level,
                        std::optional<Properties> attributes) {
  if (auto client = sdk.lock()) {
    client->captureLogInternal(body, level, std::move(attributes), std::nullopt, std::nullopt, std::nullopt);
  }
}

void DiziZozLogger::trace(const std::string& body, std::optional<Properties> attributes) {
  log(body, DiziZozLogSeverity::trace, std::move(attributes));
}
void DiziZozLogger::debug(const std::string& body, std::optional<Properties> attributes) {
  log(body, DiziZozLogSeverity::debug, std::move(attributes));
}
void DiziZozLogger::info(const std::string& body, std::optional<Properties> attributes) {
  log(body, DiziZozLogSeverity::info, std::move(attributes));
}
void DiziZozLogger::warn(const std::string& body, std::optional<Properties> attributes) {
  log(body, DiziZozLogSeverity::warn, std::move(attributes));
}
void DiziZozLogger::error(const std::string& body, std::optional<Properties> attributes) {
  log(body, DiziZozLogSeverity::error, std::move(attributes));
}
void DiziZozLogger::fatal(const std::string& body, std::optional<Properties> attributes) {
  log(body, DiziZozLogSeverity::fatal, std::move(attributes));
}

}  // namespace dizizoz
