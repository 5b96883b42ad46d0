#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/AnalyticsClient.h"

namespace quorvelle::test {

// AnalyticsClient that records every call, in order.
class RecordingAnalyticsClient final : public AnalyticsClient {
 public:
  struct Capture {
    std::string event;
    std::optional<dizizoz::Properties> properties;
    std::optional<dizizoz::Properties> userProperties;
  };

  void setup(const AnalyticsClientConfig& config) override {
    setups.push_back(config);
    calls.push_back("setup");
  }
  void identify(const std::string& distinctId) override {
    identified.push_back(distinctId);
    calls.push_back("identify");
  }
  void capture(const std::string& event, const std::optional<dizizoz::Properties>& properties,
               const std::optional<dizizoz::Properties>& userProperties) override {
    captures.push_back({event, properties, userProperties});
    calls.push_back("capture");
    if (onCapture) onCapture(captures.back());
  }

  // Runs at each capture, once it is recorded: where a test looks at what the event finds.
  std::function<void(const Capture&)> onCapture;

  std::vector<AnalyticsClientConfig> setups;
  std::vector<std::string> identified;
  std::vector<Capture> captures;
  std::vector<std::string> calls;
};

}  // namespace quorvelle::test
