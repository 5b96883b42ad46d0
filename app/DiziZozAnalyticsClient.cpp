#include "app/DiziZozAnalyticsClient.h"

#include <utility>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"

namespace quorvelle {

dizizoz::DiziZozBundleInfo analyticsBundleInfo(const platform::BundleInfo& bundle) {
  namespace keys = platform::bundle_keys;
  return {
      .identifier = bundle.infoValue(keys::identifier),
      .shortVersion = bundle.infoValue(keys::shortVersion),
      .executableName = bundle.infoValue(keys::executable),
      .name = bundle.infoValue(keys::name),
      .build = bundle.infoValue(keys::build),
  };
}

DiziZozAnalyticsClient::DiziZozAnalyticsClient(dizizoz::DiziZozBundleInfo bundle, ClientSource client)
    : bundle_(std::move(bundle)), source_(std::move(client)) {
  if (!source_) source_ = [] { return dizizoz::DiziZozSDK::shared(); };
}

void DiziZozAnalyticsClient::setup(const AnalyticsClientConfig& config) {
  if (client_) return;
  client_ = source_();
  client_->setup(dizizoz::DiziZozConfig::withApiKey(config.apiKey, config.host, bundle_));
}

void DiziZozAnalyticsClient::identify(const std::string& distinctId) {
  if (client_) client_->identify(distinctId);
}

void DiziZozAnalyticsClient::capture(const std::string& event,
                                     const std::optional<dizizoz::Properties>& properties,
                                     const std::optional<dizizoz::Properties>& userProperties) {
  if (client_) client_->capture(event, {.properties = properties, .userProperties = userProperties});
}

void DiziZozAnalyticsClient::close() {
  if (auto client = std::exchange(client_, nullptr)) client->close();
}

}  // namespace quorvelle
