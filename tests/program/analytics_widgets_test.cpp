// The program's analytics client on its real parts: the Qt feeds of the application's life cycle and the
// key window's screen, and the services record over the real transport, threads and files.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/ApplicationLifecyclePublisher.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/desktop/QtApplicationNotifications.h"
#include "platform/linux/desktop/QtKeyWindowScreen.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "program/AnalyticsThreads.h"
#include "program/ProgramAnalytics.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ThreadNames.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/TestServices.h"
#include "tests/support/qt/DesktopTools.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozSDK;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsServiceStandIn;

template <typename T>
std::shared_ptr<T> unowned(T& object) {
  return std::shared_ptr<T>(std::shared_ptr<void>(), &object);
}

constexpr int kTimeout = 10000;

TEST(AnalyticsFeedsWidgetsTest,
     AWindowTakingTheFocusAndTheApplicationLosingItReportTheLifeCycleFlushAndScreen) {
  auto& center = platform::NotificationCenter::defaultCenter();
  platform::QtApplicationNotifications feeds(center);
  dizizoz::test::TestServices ts;
  auto services = ts.services();
  services.notificationCenter = unowned(center);
  services.keyWindowScreen = std::make_shared<platform::QtKeyWindowScreen>();
  auto config = std::make_shared<DiziZozConfig>("phc_feeds");
  auto client = DiziZozSDK::create(config, services);
  client->setup(config);

  std::vector<std::string> lifeCycle;
  auto& publisher = dizizoz::ApplicationLifecyclePublisher::shared();
  auto launched = publisher.onDidFinishLaunching().subscribe([&] { lifeCycle.push_back("launched"); });
  auto active = publisher.onDidBecomeActive().subscribe([&] { lifeCycle.push_back("active"); });
  auto background = publisher.onDidEnterBackground().subscribe([&] { lifeCycle.push_back("background"); });
  feeds.finishedLaunching();
  feeds.finishedLaunching();
  EXPECT_EQ(lifeCycle, std::vector<std::string>{"launched"});

  client->capture("no window");
  QWidget window;
  window.show();
  window.activateWindow();
  ASSERT_TRUE(quorvelle::test::waitUntilActive(&window));
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return lifeCycle.size() == 2; }, "lifeCycle.size() == 2"));
  client->capture("window focused");
  const auto flushesBefore = ts.lastEventQueue()->flushes();

  // Another application taking the focus: the offscreen platform has no other, so its report is given
  // as the windowing system's would arrive.
  Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return lifeCycle.size() == 3; }, "lifeCycle.size() == 3"));
  EXPECT_EQ(lifeCycle, (std::vector<std::string>{"launched", "active", "background"}));
  EXPECT_EQ(ts.lastEventQueue()->flushes(), flushesBefore + 1);

  const auto events = ts.lastEventQueue()->records();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_FALSE(events[0].properties.contains("$screen_width"));
  const QSize screen = window.screen()->size();
  EXPECT_EQ(events[1].properties.value("$screen_width", 0.0), screen.width());
  EXPECT_EQ(events[1].properties.value("$screen_height", 0.0), screen.height());
  client->close();
}

// The names of this process's threads that the analytics client started.
std::vector<std::string> analyticsThreadNames() {
  return quorvelle::test::threadNames("com.dizizoz");
}

std::size_t filesIn(const std::filesystem::path& folder) {
  std::error_code error;
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator(folder, error); !error && it != decltype(it)(); ++it)
    ++count;
  return count;
}

TEST(ProgramAnalyticsWidgetsTest,
     DeliversGzipBatchesAndClosingWithAHangingUploadKeepsItsFilesAndEndsEveryThread) {
  AnalyticsServiceStandIn service;
  quorvelle::test::TempDir data;
  platform::QtMainExecutor executor;
  platform::NotificationCenter center;
  const auto queueFolder = data / "com.quorvelle.app" / "phc_stand_in" / "dizizoz.queueFolder.uuid";
  auto config =
      DiziZozConfig::withApiKey("phc_stand_in", service.baseURL(),
                                {.identifier = "com.quorvelle.app", .shortVersion = "2.0", .build = "7"});
  config->flushAt = 1;
  {
    // As in the program: the threads end before the transport.
    platform::CurlHttpClient http;
    {
      quorvelle::AnalyticsThreads threads;
      auto services = quorvelle::programAnalyticsServices({.http = http,
                                                           .threads = threads,
                                                           .mainExecutor = unowned(executor),
                                                           .notificationCenter = unowned(center),
                                                           .keyWindowScreen = nullptr});
      services.storageLocation = [&](const DiziZozConfig&) {
        return dizizoz::DiziZozStorageLocation{.applicationSupport = data / "com.quorvelle.app",
                                               .bundleIdentifier = "com.quorvelle.app",
                                               .groupContainer = {}};
      };
      auto client = DiziZozSDK::create(config, services);
      client->setup(config);
      client->identify("device-1");
      ASSERT_TRUE(service.waitForEvents(1));
      const auto batch = service.requests(AnalyticsEndpoint::batch).front();
      EXPECT_TRUE(batch.gzipped);
      EXPECT_TRUE(batch.problems.empty()) << batch.problems.front();
      const auto identify = service.events().front();
      EXPECT_EQ(identify["event"], "$identify");
      EXPECT_EQ(identify["distinct_id"], "device-1");
      EXPECT_EQ(identify["properties"]["$app_version"], "2.0");
      ASSERT_TRUE(
          quorvelle::test::waitUntil([&] { return filesIn(queueFolder) == 0; }, "filesIn(queueFolder) == 0"));

      service.script(AnalyticsEndpoint::batch, quorvelle::test::analytics_reply::hanging());
      client->capture("kept for the next run");
      ASSERT_TRUE(service.waitForRequests(AnalyticsEndpoint::batch, 2));
      EXPECT_FALSE(analyticsThreadNames().empty());
      client->close();
    }
  }
  EXPECT_EQ(analyticsThreadNames(), std::vector<std::string>{});
  EXPECT_EQ(filesIn(queueFolder), 1u);
  service.stop();
}

// A build without an analytics key keeps the client off: the services record is made as in the program,
// yet no analytics thread, nor the default services' standalone main thread, runs until a job needs one.
TEST(ProgramAnalyticsWidgetsTest, WhileAnalyticsAreOffNoAnalyticsThreadRuns) {
  platform::QtMainExecutor executor;
  platform::NotificationCenter center;
  platform::CurlHttpClient http;
  quorvelle::AnalyticsThreads threads;
  const auto services = quorvelle::programAnalyticsServices({.http = http,
                                                             .threads = threads,
                                                             .mainExecutor = unowned(executor),
                                                             .notificationCenter = unowned(center),
                                                             .keyWindowScreen = nullptr});
  EXPECT_EQ(analyticsThreadNames(), std::vector<std::string>{});
  EXPECT_EQ(quorvelle::test::threadNames("standalone-main"), std::vector<std::string>{});

  // A queue's thread starts with its first job, under the queue's name.
  const auto queue = threads.makeSerialQueue("com.dizizoz.Lazy");
  EXPECT_EQ(analyticsThreadNames(), std::vector<std::string>{});
  std::promise<bool> ran;
  queue->async([&] { ran.set_value(queue->isCurrent()); });
  EXPECT_TRUE(ran.get_future().get());
  EXPECT_EQ(analyticsThreadNames(), std::vector<std::string>{"com.dizizoz.Laz"});
}

}  // namespace
