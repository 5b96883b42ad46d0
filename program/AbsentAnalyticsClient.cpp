#include "program/AbsentAnalyticsClient.h"

#include "platform/Log.h"

namespace quorvelle {

void AbsentAnalyticsClient::setup(const AnalyticsClientConfig&) {
  platform::log(platform::LogLevel::warning,
                "Quorvelle: this build has no analytics client; analytics stay off");
}

void AbsentAnalyticsClient::identify(const std::string&) {}

void AbsentAnalyticsClient::capture(const std::string&, const std::optional<dizizoz::Properties>&,
                                    const std::optional<dizizoz::Properties>&) {}

}  // namespace quorvelle
