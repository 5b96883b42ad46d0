// The client on the record a program builds (addDeliveryServices: the real remote-configuration store,
// file-backed queues, the API client over libcurl, reachability, every part on a thread of its own)
// against the analytics service stand-in, driven from several threads at once. Under ThreadSanitizer any
// unguarded access or lock-order inversion is reported; in every build nothing aborts or hangs.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozBootstrapConfig.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "platform/ReachabilitySource.h"
#include "tests/support/Eventually.h"
#include "tests/support/dizizoz/RealServices.h"

namespace {

using dizizoz::DiziZozSDK;
using dizizoz::DiziZozStorage;
using dizizoz::Properties;
using dizizoz::test::RealServices;
using quorvelle::test::AnalyticsEndpoint;

// Busy-waits `duration`: finer than a sleep, so that a sweep of offsets moves one thread's step across
// another's.
void spinFor(std::chrono::nanoseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < until) {
  }
}

// Set-up, capture, identify, reset, flag reloads and reads, person properties, flush and close, from six
// threads, while the network comes and goes. The client is closed and set up again several times
// underneath the callers, each time with an identified bootstrap user (identified at set-up, under the
// set-up lock, which reloads flags through the store). Every event that reached the service or a queue
// file has a distinct id.
TEST(RealServicesStress, SetUpCaptureIdentifyResetFlagsFlushAndCloseFromSeveralThreads) {
  RealServices real;
  real.service.setFlags(Properties::parse(
      R"({"featureFlags": {"a": true, "b": "variant"}, "featureFlagPayloads": {"a": "{\"x\": 1}"}})"));
  const auto options = [&] {
    auto config = real.config();
    config->flushAt = 5;
    config->bootstrap = dizizoz::DiziZozBootstrapConfig("bootstrap-user", true);
    return config;
  };
  auto client = real.client(options());
  client->setup(options());

  constexpr int workers = 5;
  constexpr int rounds = 120;
  std::atomic<int> started{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < workers; ++t) {
    threads.emplace_back([&, t] {
      ++started;
      for (int i = 0; i < rounds; ++i) {
        switch ((t + i) % 7) {
          case 0:
            client->capture("stress", {.properties = Properties{{"thread", t}, {"round", i}}});
            break;
          case 1:
            client->identify("user-" + std::to_string(t), Properties{{"round", i}});
            break;
          case 2:
            if (i % 20 == 2) client->reset();
            break;
          case 3:
            client->reloadFeatureFlags();
            (void)client->getFeatureFlag("a");
            (void)client->isFeatureEnabled("b");
            (void)client->getFeatureFlagPayload("a");
            break;
          case 4:
            client->flush();
            break;
          case 5:
            client->setPersonProperties(Properties{{"t", t}});
            client->setPersonPropertiesForFlags(Properties{{"plan", i % 3}});
            client->registerProperties(Properties{{"i", i}});
            break;
          default:
            client->setup(options());  // refused while set up, a set-up of its own after a close
            (void)client->getDistinctId();
            break;
        }
      }
    });
  }
  threads.emplace_back([&] {
    while (started < workers) std::this_thread::yield();
    for (int cycle = 0; cycle < 10; ++cycle) {
      for (int i = 0; i < 20; ++i) client->capture("before-close");
      client->close();
      client->setup(options());
    }
  });
  threads.emplace_back([&] {
    while (!done) {
      real.reachability->set(0);
      real.reachability->set(platform::ReachabilityFlag::reachable);
      std::this_thread::yield();
    }
  });
  // The store reads the identity cache for each flags request, which close() takes away.
  threads.emplace_back([&] {
    while (!done) client->reloadFeatureFlags();
  });
  for (std::size_t i = 0; i + 2 < threads.size(); ++i) threads[i].join();
  done = true;
  for (std::size_t i = threads.size() - 2; i < threads.size(); ++i) threads[i].join();
  client->close();
  EXPECT_FALSE(client->isEnabled());
  client.reset();

  std::vector<nlohmann::json> events = real.service.events();
  const auto queueFolder = real.location().applicationSupport / std::string(RealServices::kToken) /
                           std::string(DiziZozStorage::rawValue(DiziZozStorage::StorageKey::queue));
  for (const auto& file : std::filesystem::directory_iterator(queueFolder))
    events.push_back(nlohmann::json::parse(std::ifstream(file.path()), nullptr, false));
  // (A batch in flight at a close may be both delivered and kept: the next set-up sends it again.)
  for (const auto& event : events)
    EXPECT_FALSE(event.value("distinct_id", std::string()).empty()) << event.dump();
  EXPECT_GT(events.size(), 0u);
  EXPECT_TRUE(real.service.problems().empty()) << real.service.problems().front();
}

// Set up and closed at once, as a short-lived tool does: the flags request that identify starts, or the
// remote-configuration answer, is still under way at the close, and its completion, on the store's own
// queue, holds the last reference to the store. Destroying the store there must not wait for the queue's
// own thread (which aborted with "Resource deadlock avoided"); every thread still ends.
TEST(RealServicesStress, TwoHundredClosesRightAfterSetUp) {
  RealServices real;
  for (int round = 0; round < 200; ++round) {
    auto client = DiziZozSDK::with(real.config(), real.record());
    client->identify("device-" + std::to_string(round));
    client->capture("started");
    client->close();
  }
  // The flags requests were under way at the closes: they reach the service after them.
  EXPECT_TRUE(quorvelle::test::waitUntil(
      [&] { return !real.service.requests(AnalyticsEndpoint::flags).empty(); }, "a flags request arrived"));
}

// identify() on one thread, close() on another, their start moved against each other by a sweep of
// offsets: whichever way they meet, the installation keeps a real anonymous id (an identify that had
// passed its checks when the close came took the closed client's empty distinct id for the old one and
// stored it as the anonymous id, for good).
TEST(RealServicesStress, IdentifyMeetingACloseNeverStoresAnEmptyAnonymousId) {
  RealServices real;
#ifdef __SANITIZE_THREAD__
  constexpr int rounds = 100;  // each round is ten times slower there, and the races are what it looks for
#else
  constexpr int rounds = 400;
#endif
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    // A project of its own per round: a fresh, anonymous installation.
    const std::string token = "phc_identify_close_" + std::to_string(round);
    auto options = real.config(token);
    options->preloadFeatureFlags = false;
    options->disableRemoteConfigForTesting = true;
    auto client = DiziZozSDK::with(options, real.record());
    // Person processing is on already, so identify() writes no file before it reads the identity: the
    // sweep below then moves the close across those few microseconds.
    client->setPersonProperties(Properties{{"plan", "free"}});
    std::atomic<bool> go{false};
    std::thread identifier([&] {
      while (!go) {
      }
      client->identify("user-" + std::to_string(round));
    });
    std::thread closer([&] {
      while (!go) {
      }
      spinFor(std::chrono::nanoseconds(round % 100 * 100));
      client->close();
    });
    go = true;
    identifier.join();
    closer.join();

    const auto stored = DiziZozStorage::open(*options, real.location())
                            ->getTypedValue<std::string>(DiziZozStorage::StorageKey::anonymousId);
    if (stored) {
      EXPECT_FALSE(stored->empty());
    }
  }
}

}  // namespace
