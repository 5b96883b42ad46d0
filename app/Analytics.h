#pragma once

#include <string>
#include <string_view>

#include "DiziZoz/core/Value.h"
#include "app/AnalyticsClient.h"
#include "app/DeviceIdentity.h"
#include "platform/BundleInfo.h"

namespace quorvelle {

// The application's side of analytics. setUp() starts the client from the bundle keys "DiziZozAPIKey"
// and "DiziZozHost" and identifies the installation by its device id; without a non-empty key or without
// a host, analytics stay off for the whole run and every capture() is a no-op.
//
// Main thread; the references must outlive the object.
class Analytics {
 public:
  static constexpr std::string_view kApiKeyInfoKey = "DiziZozAPIKey";
  static constexpr std::string_view kHostInfoKey = "DiziZozHost";

  Analytics(AnalyticsClient& client, const platform::BundleInfo& bundle, const DeviceIdentity& device)
      : client_(client), bundle_(bundle), device_(device) {}

  // Called once, first at start-up.
  void setUp();
  bool enabled() const { return enabled_; }

  // Sends the event when analytics are on; an empty (or null) dictionary is sent as none at all.
  void capture(const std::string& event,
               const dizizoz::Properties& properties = dizizoz::Properties::object(),
               const dizizoz::Properties& userProperties = dizizoz::Properties::object());

 private:
  AnalyticsClient& client_;
  const platform::BundleInfo& bundle_;
  const DeviceIdentity& device_;
  bool enabled_ = false;
};

}  // namespace quorvelle
