#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsServiceStandIn;
using quorvelle::test::ChildProcess;
namespace analytics_reply = quorvelle::test::analytics_reply;

const std::string kSend = std::string(QUORVELLE_BINARY_DIR) + "/tools/dizizoz-send";
constexpr const char* kToken = "phc_killed_between_send_and_delete";

std::vector<std::string> sendCommand(const AnalyticsServiceStandIn& service, int events) {
  std::vector<std::string> argv{kSend, "--host", service.baseURL(), "--token", kToken, "--wait", "30"};
  for (int i = 0; i < events; ++i) argv.push_back("e" + std::to_string(i));
  return argv;
}

// The uuids of the event records stored in `folder`.
std::set<std::string> storedUuids(const fs::path& folder) {
  std::set<std::string> uuids;
  if (!fs::exists(folder)) return uuids;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path());
    const auto record = nlohmann::json::parse(in, nullptr, false);
    if (record.is_object()) uuids.insert(record.value("uuid", std::string()));
  }
  return uuids;
}

// A program killed while its batch is on the wire (sent, not yet answered, so not yet deleted) keeps every
// record on disk, and its next start sends them with the uuids they were first sent with: delivered at
// least once, never lost.
TEST(DeliveryEndToEndCrashTest, RecordsOfABatchInFlightAtSigkillAreResentByTheNextStart) {
  quorvelle::test::TempDir data;
  const quorvelle::test::ScopedEnvironment environment{{"XDG_DATA_HOME", data.path().string()}};
  const fs::path queueFolder = data / "com.quorvelle.dizizoz-send" / kToken / "dizizoz.queueFolder.uuid";
  AnalyticsServiceStandIn service({.projectToken = kToken, .port = 0, .snapshotPath = "/s/"});
  service.script(AnalyticsEndpoint::batch, analytics_reply::hanging());

  std::vector<std::string> inFlight;
  {
    ChildProcess first(sendCommand(service, 20));
    ASSERT_TRUE(service.waitForRequests(AnalyticsEndpoint::batch, 1)) << first.output();
    first.signal(SIGKILL);
    EXPECT_EQ(first.wait(), -1);
    for (const auto& event : service.requests(AnalyticsEndpoint::batch).at(0).events())
      inFlight.push_back(event.value("uuid", std::string()));
  }
  // The threshold batch: the 20 events, and the identify event too when it was stored before the batch
  // was read.
  ASSERT_GE(inFlight.size(), 20u);
  const auto kept = storedUuids(queueFolder);
  for (const auto& uuid : inFlight) EXPECT_TRUE(kept.count(uuid)) << uuid << " was lost at the kill";

  ChildProcess next(sendCommand(service, 0));
  EXPECT_EQ(next.wait(30s), 0) << next.output();
  std::set<std::string> delivered;
  for (const auto& batch : service.requests(AnalyticsEndpoint::batch))
    if (batch.answeredStatus == 200)
      for (const auto& event : batch.events()) delivered.insert(event.value("uuid", std::string()));
  for (const auto& uuid : inFlight) EXPECT_TRUE(delivered.count(uuid)) << uuid << " was never delivered";
  for (const auto& uuid : kept) EXPECT_TRUE(delivered.count(uuid)) << uuid << " stayed behind";
  EXPECT_TRUE(storedUuids(queueFolder).empty());
  EXPECT_EQ(service.problems(), std::vector<std::string>{});
}

}  // namespace
