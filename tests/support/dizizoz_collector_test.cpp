#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "DiziZoz/core/Gzip.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace {

using quorvelle::test::ChildProcess;
using quorvelle::test::TempDir;

const std::string kCollector = std::string(QUORVELLE_BINARY_DIR) + "/tools/dizizoz-collector";

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Starts the collector and returns its address, read from its first line.
std::string start(ChildProcess& collector) {
  EXPECT_TRUE(collector.waitForOutput("listening on http://")) << collector.output();
  EXPECT_TRUE(collector.waitForOutput("\n")) << collector.output();
  const auto at = collector.output().find("http://");
  return collector.output().substr(at, collector.output().find('\n', at) - at);
}

// Runs curl with `args` and returns what it printed.
std::string curl(std::vector<std::string> args) {
  args.insert(args.begin(), {"curl", "-s", "-S", "--max-time", "10"});
  ChildProcess run(args);
  EXPECT_EQ(run.wait(std::chrono::seconds(20)), 0) << run.output();
  return run.output();
}

TEST(DizizozCollector, PrintsTheEventsOfAGzippedBatchPostedWithCurlAndAnswersFromItsFiles) {
  TempDir dir;
  const std::string batch =
      R"({"api_key":"phc_x","sent_at":"2024-01-01T00:00:01.000Z","batch":[)"
      R"({"event":"onboarding_started","distinct_id":"device-1","properties":{"step":1},)"
      R"("timestamp":"2024-01-01T00:00:00.000Z","uuid":"0190a4b2-1c3d-7e4f-8a9b-0c1d2e3f4a5b"},)"
      R"({"event":"tutorial_done","distinct_id":"device-1","properties":{},)"
      R"("timestamp":"2024-01-01T00:00:02.500Z","uuid":"0190a4b2-1c3d-7e4f-8a9b-0c1d2e3f4a5c"}]})";
  const auto compressed = dizizoz::gzipped(batch);
  writeFile(dir / "batch.json.gz", std::string(compressed.data.begin(), compressed.data.end()));
  writeFile(dir / "flags.json", R"({"flags":{"beta":{"enabled":true}}})");
  const std::string logs =
      R"({"resourceLogs":[{"scopeLogs":[{"logRecords":[{"timeUnixNano":"1704067200250000000",)"
      R"("severityText":"warn","body":{"stringValue":"disk almost full"}}]}]}]})";

  ChildProcess collector({kCollector, "--port", "0", "--verbose", "--flags", (dir / "flags.json").string()});
  const std::string base = start(collector);

  curl({"--data-binary", "@" + (dir / "batch.json.gz").string(), "-H", "Content-Encoding: gzip",
        base + "/batch"});
  EXPECT_TRUE(collector.waitForOutput("event 2024-01-01T00:00:02.500Z tutorial_done device-1\n"))
      << collector.output();
  const std::string& out = collector.output();
  EXPECT_NE(out.find("batch: 2 events, gzip -> 200\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  event 2024-01-01T00:00:00.000Z onboarding_started device-1\n"
                     "    properties: {\"step\":1}\n"),
            std::string::npos)
      << out;

  const std::string flags =
      curl({"--data-binary", R"({"api_key":"phc_x","distinct_id":"device-1","groups":{},"timezone":"UTC"})",
            base + "/flags?v=2"});
  EXPECT_EQ(flags, R"({"flags":{"beta":{"enabled":true}}})");
  EXPECT_TRUE(collector.waitForOutput("flags: distinct id device-1 -> 200\n")) << collector.output();

  curl({"--data-binary", logs, base + "/i/v1/logs?token=phc_x"});
  EXPECT_TRUE(collector.waitForOutput("  log 2024-01-01T00:00:00.250Z warn disk almost full\n"))
      << collector.output();
}

TEST(DizizozCollector, RehearsesAFailingServiceAndSaysWhatItStandsIn) {
  ChildProcess collector({kCollector, "--port", "0", "--status", "503", "--retry-after", "120"});
  const std::string base = start(collector);
  const std::string answer = curl({"-i", "--data-binary", "{}", base + "/batch"});
  EXPECT_NE(answer.find("HTTP/1.1 503"), std::string::npos) << answer;
  EXPECT_NE(answer.find("Retry-After: 120"), std::string::npos) << answer;
  EXPECT_TRUE(collector.waitForOutput("batch: 0 events -> 503\n")) << collector.output();

  ChildProcess help({kCollector, "--help"});
  EXPECT_EQ(help.wait(), 0);
  EXPECT_NE(help.output().find("Stands in for the analytics service"), std::string::npos) << help.output();

  ChildProcess wrong({kCollector, "--status", "abc"});
  EXPECT_EQ(wrong.wait(), 2);
}

}  // namespace
