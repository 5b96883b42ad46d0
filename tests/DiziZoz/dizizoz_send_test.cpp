#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"

namespace {

using namespace std::chrono_literals;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsServiceStandIn;
using quorvelle::test::ChildProcess;
namespace analytics_reply = quorvelle::test::analytics_reply;

const std::string kSend = std::string(QUORVELLE_BINARY_DIR) + "/tools/dizizoz-send";
constexpr const char* kToken = "phc_dizizoz_send_report";

// The tool says what became of its events, and succeeds only when the service took every one: events
// the client gives up (here after a final 400) are reported as dropped, not as delivered.
TEST(DizizozSendTest, ReportsDeliveredAndDroppedEventsAndFailsWhenAnyWasDropped) {
  struct Case {
    const char* name;
    std::optional<int> batchStatus;  // every batch is answered so; the default 200 when unset
    std::string report;
    int exitStatus;
  };
  // Three events and the identify event of a first run.
  const Case cases[] = {
      {"accepted", std::nullopt, "4 event(s) delivered, 0 dropped, 0 record(s) stay queued", 0},
      {"refused for good", 400, "0 event(s) delivered, 4 dropped, 0 record(s) stay queued", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    quorvelle::test::TempDir data;
    const quorvelle::test::ScopedEnvironment environment{{"XDG_DATA_HOME", data.path().string()}};
    AnalyticsServiceStandIn service({.projectToken = kToken, .port = 0, .snapshotPath = "/s/"});
    if (c.batchStatus) {
      AnalyticsServiceStandIn::Rehearsal refusal;
      refusal.status = c.batchStatus;
      service.rehearse(refusal);
    }
    ChildProcess send({kSend, "--host", service.baseURL(), "--token", kToken, "--wait", "20", "a", "b", "c"});
    EXPECT_EQ(send.wait(30s), c.exitStatus) << send.output();
    EXPECT_NE(send.output().find("dizizoz-send: " + c.report), std::string::npos) << send.output();
    EXPECT_EQ(send.output().find("everything was delivered"), std::string::npos);
  }
}

// Stored records it cannot read back are dropped whatever the reason, counted alike and named by their
// causes: a file that is no event, one over the size cap, and entries that are not regular files.
TEST(DizizozSendTest, CountsAndNamesEachCauseOfTheStoredRecordsItCouldNotRead) {
  quorvelle::test::TempDir data;
  const quorvelle::test::ScopedEnvironment environment{{"XDG_DATA_HOME", data.path().string()}};
  const auto folder = data.path() / "com.quorvelle.dizizoz-send" / kToken / "dizizoz.queueFolder.uuid";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "stray") << "not json";
  std::ofstream(folder / "huge").close();
  // Sparse: the size is refused before anything is read.
  std::filesystem::resize_file(folder / "huge", dizizoz::DiziZozFileBackedQueue::maxRecordBytes + 1);
  std::filesystem::create_directory(folder / "folder");
  std::filesystem::create_symlink("stray", folder / "link");

  AnalyticsServiceStandIn service({.projectToken = kToken, .port = 0, .snapshotPath = "/s/"});
  ChildProcess send({kSend, "--host", service.baseURL(), "--token", kToken, "--wait", "20", "a", "b", "c"});
  EXPECT_EQ(send.wait(30s), 1) << send.output();
  EXPECT_NE(send.output().find("dizizoz-send: 4 event(s) delivered, 4 dropped, 0 record(s) stay queued"),
            std::string::npos)
      << send.output();
  EXPECT_NE(
      send.output().find(
          "dizizoz-send: dropped: 1 not readable as an event, 1 over the size cap, 2 not a regular file\n"),
      std::string::npos)
      << send.output();
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
