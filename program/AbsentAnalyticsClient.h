#pragma once

#include <optional>
#include <string>

#include "app/AnalyticsClient.h"

namespace quorvelle {

// Stands in for the analytics client, which is not part of this build yet: with analytics keys compiled
// in, set-up says so once and every call is dropped, as the client does when it is off. Any thread.
class AbsentAnalyticsClient final : public AnalyticsClient {
 public:
  void setup(const AnalyticsClientConfig& config) override;
  void identify(const std::string& distinctId) override;
  void capture(const std::string& event, const std::optional<dizizoz::Properties>& properties,
               const std::optional<dizizoz::Properties>& userProperties) override;
};

}  // namespace quorvelle
