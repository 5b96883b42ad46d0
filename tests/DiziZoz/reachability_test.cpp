#include "DiziZoz/delivery/Reachability.h"
#include "tests/support/Eventually.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozContext.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/fake/SettableReachabilitySource.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozConnection;
using dizizoz::DiziZozReachabilityMonitoring;
using dizizoz::Reachability;
using dizizoz::RegistrationToken;
using platform::ReachabilityFlag;
using platform::ReachabilityFlags;
using platform::fake::SettableReachabilitySource;

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags c = ReachabilityFlag::connectionRequired;
constexpr ReachabilityFlags C = ReachabilityFlag::connectionOnTraffic;
constexpr ReachabilityFlags D = ReachabilityFlag::connectionOnDemand;
constexpr ReachabilityFlags i = ReachabilityFlag::interventionRequired;

// A monitor over a settable source, its serial queue and notification executor driven by the test. Every
// notification pass is written to `passes`: the callback that ran, then "notification" for the post.
class ReachabilityTest : public ::testing::Test {
 protected:
  std::shared_ptr<Reachability> make(bool withNotificationQueue = true,
                                     std::shared_ptr<platform::SerialQueue> serialQueue = nullptr) {
    const platform::OpenedReachabilitySource opened{.source = source, .error = 0};
    auto created = Reachability::create({
        .source = opened,
        .serialQueue = serialQueue ? serialQueue : queue,
        .notificationQueue = withNotificationQueue ? main : nullptr,
        .notificationCenter = center,
    });
    auto monitor = created.monitor;
    tokens.push_back(monitor->onReachable().subscribe(
        [this](const DiziZozReachabilityMonitoring&) { passes.push_back("reachable"); }));
    tokens.push_back(monitor->onUnreachable().subscribe(
        [this](const DiziZozReachabilityMonitoring&) { passes.push_back("unreachable"); }));
    observation = center->addObserver(std::string(Reachability::reachabilityChanged),
                                      [this](const platform::Notification& n) {
                                        const auto* object = n.value<std::shared_ptr<Reachability>>("object");
                                        passes.push_back(object && *object ? "notification" : "no object");
                                      });
    return monitor;
  }

  // Runs what the source reported, then the passes it caused.
  void settle() {
    queue->drain();
    main->runUntilIdle();
  }

  std::shared_ptr<SettableReachabilitySource> source = std::make_shared<SettableReachabilitySource>(R);
  std::shared_ptr<platform::fake::ManualSerialQueue> queue =
      std::make_shared<platform::fake::ManualSerialQueue>();
  std::shared_ptr<platform::fake::ManualExecutor> main = std::make_shared<platform::fake::ManualExecutor>();
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::vector<RegistrationToken> tokens;
  platform::NotificationCenter::Token observation;
  std::vector<std::string> passes;
};

const std::vector<std::string> kReachablePass{"reachable", "notification"};
const std::vector<std::string> kUnreachablePass{"unreachable", "notification"};

struct KindCase {
  const char* name;
  std::optional<ReachabilityFlags> flags;  // none: the source cannot read them
  DiziZozConnection expected;
};

class ConnectionKind : public ReachabilityTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ConnectionKind, FollowsTheFlags) {
  const KindCase& kase = GetParam();
  if (kase.flags) {
    source->set(*kase.flags);
  } else {
    source->failReads(5);
  }
  auto monitor = make();
  EXPECT_EQ(monitor->connection(), kase.expected);
  EXPECT_EQ(monitor->flags(), kase.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Reachability, ConnectionKind,
    ::testing::Values(KindCase{"none", std::nullopt, DiziZozConnection::unavailable},
                      KindCase{"nothing", 0, DiziZozConnection::unavailable},
                      KindCase{"reachable", R, DiziZozConnection::wifi},
                      KindCase{"connectionRequired", R | c, DiziZozConnection::unavailable},
                      KindCase{"onTraffic", R | c | C, DiziZozConnection::wifi},
                      KindCase{"onDemand", R | c | D, DiziZozConnection::wifi},
                      KindCase{"onDemandWithIntervention", R | c | D | i, DiziZozConnection::unavailable},
                      KindCase{"onTrafficWithIntervention", R | c | C | i, DiziZozConnection::unavailable},
                      KindCase{"requiredButNotReachable", c, DiziZozConnection::unavailable}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReachabilityTest, StartingTwiceInstallsOneCallbackAndTheFirstReadRunsOnePass) {
  auto monitor = make();
  EXPECT_EQ(monitor->startNotifier(), std::nullopt);
  EXPECT_EQ(monitor->startNotifier(), std::nullopt);
  EXPECT_TRUE(monitor->notifierRunning());
  EXPECT_EQ(source->callbackInstalls(), 1);
  EXPECT_EQ(source->schedules(), 1);
  EXPECT_EQ(source->reads(), 1);

  EXPECT_TRUE(passes.empty()) << "the pass waits for the notification executor";
  settle();
  EXPECT_EQ(passes, kReachablePass);
}

TEST_F(ReachabilityTest, EachChangeOfTheFlagsRunsOnePassAndRepeatsRunNone) {
  auto monitor = make();
  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  settle();
  passes.clear();

  source->set(R);  // what start read already
  source->set(0);
  source->set(0);
  settle();
  EXPECT_EQ(passes, kUnreachablePass);

  passes.clear();
  source->set(R | c);  // other flags, same kind: still a change
  source->set(R | c | D);
  settle();
  EXPECT_EQ(passes, (std::vector<std::string>{"reachable", "notification", "reachable", "notification"}))
      << "two changes, two passes, each reading the kind when it runs";
}

TEST_F(ReachabilityTest, WithoutNotificationQueueThePassRunsOnTheSerialQueueInsideTheUpdate) {
  auto monitor = make(/*withNotificationQueue=*/false);
  std::vector<bool> onSerialQueue;
  auto token = monitor->onUnreachable().subscribe(
      [&](const DiziZozReachabilityMonitoring&) { onSerialQueue.push_back(queue->isCurrent()); });

  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  EXPECT_EQ(passes, kReachablePass) << "ran within startNotifier's read";

  source->set(0);
  EXPECT_EQ(passes, kReachablePass) << "nothing before the queue runs the report";
  queue->drain();
  EXPECT_EQ(passes, (std::vector<std::string>{"reachable", "notification", "unreachable", "notification"}));
  EXPECT_EQ(onSerialQueue, std::vector<bool>{true});
}

TEST_F(ReachabilityTest, AFirstConnectionReadBeforeStartingRunsOnePass) {
  auto monitor = make();
  EXPECT_EQ(monitor->connection(), DiziZozConnection::wifi);
  EXPECT_EQ(monitor->connection(), DiziZozConnection::wifi);
  EXPECT_EQ(source->reads(), 1) << "known flags are not read again";
  settle();
  EXPECT_EQ(passes, kReachablePass);

  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  settle();
  EXPECT_EQ(passes, kReachablePass) << "start read the same flags";
}

struct FailureCase {
  const char* name;
  void (*fail)(SettableReachabilitySource&);
  const char* expected;
};

class StartFailure : public ReachabilityTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartFailure, StopsTheNotifierAndReturnsTheSourcesCode) {
  auto monitor = make();
  GetParam().fail(*source);
  EXPECT_EQ(monitor->startNotifier(), std::optional<std::string>(GetParam().expected));
  EXPECT_FALSE(monitor->notifierRunning());
  EXPECT_FALSE(source->installedCallback());
  EXPECT_FALSE(source->isScheduled());
  settle();
  EXPECT_TRUE(passes.empty());

  // A stopped monitor starts again once the source works.
  source->failSetCallback(0);
  source->failSchedule(0);
  source->failReads(0);
  EXPECT_EQ(monitor->startNotifier(), std::nullopt);
  EXPECT_TRUE(monitor->notifierRunning());
  settle();
  EXPECT_EQ(passes, kReachablePass);
}

INSTANTIATE_TEST_SUITE_P(
    Reachability, StartFailure,
    ::testing::Values(FailureCase{"callback", [](SettableReachabilitySource& s) { s.failSetCallback(22); },
                                  "unableToSetCallback(22)"},
                      FailureCase{"schedule", [](SettableReachabilitySource& s) { s.failSchedule(12); },
                                  "unableToSetDispatchQueue(12)"},
                      FailureCase{"read", [](SettableReachabilitySource& s) { s.failReads(5); },
                                  "unableToGetFlags(5)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReachabilityTest, AFailedReadInAConnectionReadIsSwallowedAndStopsTheNotifier) {
  auto monitor = make();
  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  auto fresh = make();  // its flags are still unknown
  source->failReads(9);
  EXPECT_EQ(fresh->connection(), DiziZozConnection::unavailable);
  EXPECT_EQ(fresh->flags(), std::nullopt);
  EXPECT_FALSE(source->installedCallback()) << "stopping removes the source's callback";
  EXPECT_FALSE(source->isScheduled());
}

TEST(ReachabilityDescription, TenCharactersInTheFixedOrder) {
  const struct {
    ReachabilityFlags flags;
    const char* text;
  } cases[] = {
      {0, "-- -------"},
      {R, "-R -------"},
      {R | c | D, "-R c---D--"},
      {ReachabilityFlag::transientConnection | R | c | C | i | D | ReachabilityFlag::isLocalAddress |
           ReachabilityFlag::isDirect,
       "-R ctiCDld"},
  };
  for (const auto& kase : cases) EXPECT_EQ(dizizoz::describeReachabilityFlags(kase.flags), kase.text);
}

TEST_F(ReachabilityTest, DescriptionSaysWhenNoFlagsWereRead) {
  auto monitor = make();
  EXPECT_EQ(monitor->description(), "unavailable flags");
  monitor->connection();
  EXPECT_EQ(monitor->description(), "-R -------");
}

TEST_F(ReachabilityTest, AReportArrivingAfterTheMonitorIsGoneDoesNothing) {
  auto monitor = make();
  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  settle();
  passes.clear();
  const auto lateCallback = source->installedCallback();
  source->set(0);  // queued, not run yet

  monitor.reset();
  EXPECT_FALSE(source->installedCallback()) << "destroying stops the notifier";
  lateCallback(0);  // a report that was already under way
  settle();
  EXPECT_TRUE(passes.empty());
}

TEST_F(ReachabilityTest, AConnectionReadOnTheSerialQueueWhileFlagsAreUnknownReadsThere) {
  auto worker = std::make_shared<platform::ThreadSerialQueue>("reach-test");
  auto monitor = make(/*withNotificationQueue=*/true, worker);
  std::promise<DiziZozConnection> kind;
  auto answer = kind.get_future();
  worker->async([&] { kind.set_value(monitor->connection()); });
  ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the read waited for itself";
  EXPECT_EQ(answer.get(), DiziZozConnection::wifi);
}

TEST_F(ReachabilityTest, TheLastOwnerLettingGoOnTheSerialQueueDoesNotTearTheQueueDownThere) {
  std::weak_ptr<platform::SerialQueue> worker;
  std::weak_ptr<Reachability> watched;
  {
    auto thread = std::make_shared<platform::ThreadSerialQueue>("reach-test");
    worker = thread;
    auto monitor = make(/*withNotificationQueue=*/false, std::move(thread));
    watched = monitor;
    ASSERT_EQ(monitor->startNotifier(), std::nullopt);
    // The subscriber drops the only other owner: the report's job holds the last one.
    auto holder = std::make_shared<std::shared_ptr<Reachability>>(std::move(monitor));
    tokens.push_back(holder->get()->onUnreachable().subscribe(
        [holder](const DiziZozReachabilityMonitoring&) { holder->reset(); }));
    source->set(0);
  }
  EXPECT_TRUE(quorvelle::test::waitUntil([&] { return worker.expired(); }, "the queue was released"));
  EXPECT_TRUE(watched.expired());
  EXPECT_TRUE(worker.expired()) << "the queue was released off its own thread";
}

TEST(ReachabilityServices, AMonitorThatCannotBeCreatedLeavesTheClientWithout) {
  dizizoz::test::CapturedLog log;
  auto factory = Reachability::servicesFactory(
      [] { return platform::OpenedReachabilitySource{.source = nullptr, .error = 97}; },
      [](std::string_view) { return std::make_shared<platform::fake::ManualSerialQueue>(); },
      std::make_shared<platform::fake::ManualExecutor>(), std::make_shared<platform::NotificationCenter>());
  EXPECT_EQ(factory(dizizoz::DiziZozConfig("phc_test")), nullptr);
  EXPECT_EQ(log.lines,
            std::vector<std::string>{
                "[DiziZoz] Network reachability is not watched: failedToCreateWithAddress(0.0.0.0, 97)"});
}

TEST(ReachabilityServices, SetUpGivesTheClientAMonitorNotifyingOnTheMainExecutor) {
  dizizoz::test::TestServices ts;
  auto source = std::make_shared<SettableReachabilitySource>(0);
  auto queue = std::make_shared<platform::fake::ManualSerialQueue>();
  std::vector<std::string> labels;
  auto services = ts.services();
  services.makeReachability = Reachability::servicesFactory(
      [source] { return platform::OpenedReachabilitySource{.source = source, .error = 0}; },
      [&](std::string_view label) {
        labels.emplace_back(label);
        return queue;
      },
      services.mainExecutor, services.notificationCenter);
  auto config = std::make_shared<dizizoz::DiziZozConfig>("phc_reach");
  auto client = dizizoz::DiziZozSDK::create(config, services);
  client->setup(config);

  auto monitor = std::dynamic_pointer_cast<Reachability>(client->reachability());
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(labels, std::vector<std::string>{"com.dizizoz.Reachability"});
  EXPECT_EQ(client->context()->dynamicContext()["$network_wifi"], false);
  ts.executor.runUntilIdle();  // the pass of that first read

  int reachable = 0;
  auto token = monitor->onReachable().subscribe([&](const DiziZozReachabilityMonitoring&) { ++reachable; });
  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  source->set(R);
  queue->drain();
  EXPECT_EQ(reachable, 0);
  ts.executor.runUntilIdle();
  EXPECT_EQ(reachable, 1);
  EXPECT_EQ(client->context()->dynamicContext()["$network_wifi"], true);

  client.reset();  // the end of the client stops its monitor
  EXPECT_FALSE(monitor->notifierRunning());
}

}  // namespace
