#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/delivery/DeliveryServices.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/SettableReachabilitySource.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadMainExecutor.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ThreadNames.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"

namespace dizizoz::test {

// The threads that run the analytics client's serial queues ("com.dizizoz...").
inline std::vector<std::string> analyticsThreadNames() {
  return quorvelle::test::threadNames("com.dizizoz");
}

// The services record a program builds, on real parts: addDeliveryServices over libcurl (the API client,
// the remote-configuration store, reachability over a settable source, the file-backed queues), each part
// on a thread-backed serial queue that it alone owns (as tools/dizizoz-send does), a thread that plays the
// main thread, the real clock and ids, and the files in a temporary folder. Clients report to `service`.
//
// The transport is the last member to go, after every analytics thread has ended: a job of a closed
// client that began before the close may still hand it a request.
class RealServices {
 public:
  static constexpr std::string_view kToken = "phc_stand_in";

  RealServices() {
    record_ = DiziZozServices::inert();
    record_.mainExecutor = mainExecutor;
    record_.notificationCenter = notifications;
    record_.storageLocation = [folder = folder.path()](const DiziZozConfig&) {
      return DiziZozStorageLocation{.applicationSupport = folder / "com.quorvelle.app",
                                    .bundleIdentifier = "com.quorvelle.app",
                                    .groupContainer = {},
                                    .isAppExtension = false};
    };
    addDeliveryServices(
        record_, {.http = &http_,
                  .makeSerialQueue = [](std::string_view label) -> std::shared_ptr<platform::SerialQueue> {
                    return std::make_shared<platform::ThreadSerialQueue>(std::string(label));
                  },
                  .openReachabilitySource =
                      [source = reachability] {
                        return platform::OpenedReachabilitySource{.source = source, .error = 0};
                      }});
  }
  // Drop the clients first. Answers still held end here, so that the parts they keep alive go too.
  ~RealServices() {
    service.stop();
    record_ = {};
    EXPECT_TRUE(quorvelle::test::waitUntil([] { return analyticsThreadNames().empty(); },
                                           "every analytics thread ended"))
        << testing::PrintToString(analyticsThreadNames());
  }
  RealServices(const RealServices&) = delete;
  RealServices& operator=(const RealServices&) = delete;

  const DiziZozServices& record() const { return record_; }

  // Options for a client of project `token` at the stand-in; the automatic integrations off.
  std::shared_ptr<DiziZozConfig> config(std::string_view token = kToken) const {
    auto options = std::make_shared<DiziZozConfig>(token, service.baseURL(),
                                                   DiziZozBundleInfo{.identifier = "com.quorvelle.app"});
    options->captureApplicationLifecycleEvents = false;
    options->captureScreenViews = false;
    options->disableFlushOnBackgroundForTesting = true;
    return options;
  }
  std::shared_ptr<DiziZozSDK> client(std::shared_ptr<DiziZozConfig> options) const {
    return DiziZozSDK::create(std::move(options), record_);
  }
  // Where the clients keep their files.
  DiziZozStorageLocation location() const { return record_.storageLocation(DiziZozConfig("")); }

 private:
  platform::CurlHttpClient http_;

 public:
  // Any project's requests are welcome.
  quorvelle::test::AnalyticsServiceStandIn service{{.projectToken = "", .port = 0, .snapshotPath = "/s/"}};
  quorvelle::test::TempDir folder;
  std::shared_ptr<platform::ThreadMainExecutor> mainExecutor =
      std::make_shared<platform::ThreadMainExecutor>("real-main");
  std::shared_ptr<platform::NotificationCenter> notifications =
      std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<platform::fake::SettableReachabilitySource> reachability =
      std::make_shared<platform::fake::SettableReachabilitySource>();

 private:
  DiziZozServices record_;
};

}  // namespace dizizoz::test
