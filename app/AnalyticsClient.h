#pragma once

#include <optional>
#include <string>

#include "DiziZoz/core/Value.h"

namespace quorvelle {

// The options the application gives the analytics client: the project key and the service's address;
// every other option keeps the client's default.
struct AnalyticsClientConfig {
  std::string apiKey;
  std::string host;
};

// What the application needs of the analytics client. The client refuses quietly what it cannot do
// (set up twice, an empty key, calls before set-up); none of the calls fails its caller.
class AnalyticsClient {
 public:
  virtual ~AnalyticsClient() = default;
  virtual void setup(const AnalyticsClientConfig& config) = 0;
  // Takes `distinctId` as the distinct id of later events.
  virtual void identify(const std::string& distinctId) = 0;
  virtual void capture(const std::string& event, const std::optional<dizizoz::Properties>& properties,
                       const std::optional<dizizoz::Properties>& userProperties) = 0;
};

}  // namespace quorvelle
