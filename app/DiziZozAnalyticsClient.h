#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "app/AnalyticsClient.h"
#include "platform/BundleInfo.h"

namespace dizizoz {
class DiziZozSDK;
}

namespace quorvelle {

// The application's description as the analytics client knows it (identifier, name, executable, version
// and build), read from the application's fixed information.
dizizoz::DiziZozBundleInfo analyticsBundleInfo(const platform::BundleInfo& bundle);

// The AnalyticsClient over the analytics client library. setup() configures it with the project key and
// host and nothing else (every other option keeps its default), described by `bundle`. The library's
// client is asked for only at setup(): a run that never sets analytics up never creates it.
//
// Main thread. close() ends the client's work for this run (its queued events stay on disk for the next)
// and is called once at quit, before the transport and executors the client uses end; calls after it
// are dropped.
class DiziZozAnalyticsClient final : public AnalyticsClient {
 public:
  using ClientSource = std::function<std::shared_ptr<dizizoz::DiziZozSDK>()>;

  // `client` gives the library's client; by default the process-wide one.
  explicit DiziZozAnalyticsClient(dizizoz::DiziZozBundleInfo bundle, ClientSource client = {});

  void setup(const AnalyticsClientConfig& config) override;
  void identify(const std::string& distinctId) override;
  void capture(const std::string& event, const std::optional<dizizoz::Properties>& properties,
               const std::optional<dizizoz::Properties>& userProperties) override;
  void close();

 private:
  dizizoz::DiziZozBundleInfo bundle_;
  ClientSource source_;
  std::shared_ptr<dizizoz::DiziZozSDK> client_;  // from setup() until close()
};

}  // namespace quorvelle
