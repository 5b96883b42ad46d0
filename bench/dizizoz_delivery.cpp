// 10,000 events captured through the client on real delivery (one file each, batches of the default cap
// over libcurl to the analytics service stand-in on 127.0.0.1) until the stand-in has received every one.
// The queue's size limit is raised so that nothing is dropped; the driver flushes whenever the previous
// batch is done, as the queue timer and the threshold would over a longer time. Each repetition starts
// with an empty folder and a new stand-in; the wall time of one repetition is the figure to compare.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/delivery/DeliveryServices.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadMainExecutor.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"

namespace {

namespace fs = std::filesystem;
using quorvelle::test::AnalyticsServiceStandIn;

constexpr int kEvents = 10'000;
constexpr const char* kToken = "phc_bench_delivery";

void BM_DeliverTenThousandEvents(benchmark::State& state) {
  platform::CurlHttpClient http;
  const dizizoz::Properties properties{{"step", "language"}, {"language", "de"}, {"index", 2}};
  for (auto _ : state) {
    state.PauseTiming();
    std::string pattern = (fs::temp_directory_path() / "dizizoz-bench-delivery-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      state.SkipWithError("no temporary folder");
      return;
    }
    const fs::path folder(pattern);
    {
      AnalyticsServiceStandIn service({.projectToken = kToken, .port = 0, .snapshotPath = "/s/"});
      auto services = dizizoz::DiziZozServices::inert();
      services.mainExecutor = std::make_shared<platform::ThreadMainExecutor>("bench-main");
      services.storageLocation = [folder](const dizizoz::DiziZozConfig&) {
        dizizoz::DiziZozStorageLocation location;
        location.applicationSupport = folder / "com.quorvelle.app";
        location.bundleIdentifier = "com.quorvelle.app";
        return location;
      };
      dizizoz::addDeliveryServices(
          services, {.http = &http,
                     .makeSerialQueue = [](std::string_view label) -> std::shared_ptr<platform::SerialQueue> {
                       return std::make_shared<platform::ThreadSerialQueue>(std::string(label));
                     },
                     .openReachabilitySource = {}});
      auto config = std::make_shared<dizizoz::DiziZozConfig>(kToken, service.baseURL());
      config->maxQueueSize = kEvents;
      config->captureApplicationLifecycleEvents = false;
      config->preloadFeatureFlags = false;
      config->disableRemoteConfigForTesting = true;
      auto client = dizizoz::DiziZozSDK::create(config, services);
      client->setup(config);
      state.ResumeTiming();

      for (int i = 0; i < kEvents; ++i)
        client->capture("onboarding_step_completed", {.properties = properties});
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!service.waitForEvents(kEvents, std::chrono::milliseconds(1))) {
        if (std::chrono::steady_clock::now() > deadline) {
          state.SkipWithError("the stand-in did not receive every event within a minute");
          break;
        }
        client->flush();
      }

      state.PauseTiming();
      state.counters["batches"] =
          static_cast<double>(service.requests(quorvelle::test::AnalyticsEndpoint::batch).size());
      client->close();
      client.reset();
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DeliverTenThousandEvents)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
