#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/delivery/Reachability.h"
#include "platform/NotificationCenter.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "platform/linux/desktop/NetworkManagerReachabilitySource.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "tests/support/Eventually.h"
#include "tests/support/PrivateDbusDaemon.h"
#include "tests/support/qt/FakeNetworkManager.h"

// NetworkManager's judgement over a real D-Bus: a private dbus-daemon started by the test, on which the
// test serves NetworkManager's object.

namespace {

using dizizoz::DiziZozConnection;
using dizizoz::DiziZozReachabilityMonitoring;
using dizizoz::Reachability;
using platform::NetworkManagerReachabilitySource;
using NM = platform::NetworkManagerReachabilitySource;
using platform::ReachabilityFlag;

constexpr std::uint32_t kStateDisconnected = 20;
constexpr std::uint32_t kStateConnectedSite = 60;
constexpr int kWaitMs = 10000;

class NetworkManagerReachabilityTest : public ::testing::Test {
 protected:
  ~NetworkManagerReachabilityTest() override { QDBusConnection::disconnectFromBus(kClient); }

  QDBusConnection client() {
    return QDBusConnection::connectToBus(QString::fromStdString(daemon.address()), kClient);
  }

  const QString kClient = QStringLiteral("reachability-test-client");
  quorvelle::test::PrivateDbusDaemon daemon;
};

TEST_F(NetworkManagerReachabilityTest, ConnectivityDecidesAndStateStandsInWhileItIsUnknown) {
  quorvelle::test::FakeNetworkManager nm(QString::fromStdString(daemon.address()), NM::kStateConnectedGlobal,
                                         NM::full);
  auto bus = client();
  ASSERT_TRUE(NetworkManagerReachabilitySource::ownsName(bus));
  auto opened = NetworkManagerReachabilitySource::open(bus);
  ASSERT_TRUE(opened.source) << opened.error;

  constexpr auto R = ReachabilityFlag::reachable;
  constexpr auto c = ReachabilityFlag::connectionRequired;
  constexpr auto i = ReachabilityFlag::interventionRequired;
  const struct {
    std::uint32_t state;
    std::uint32_t connectivity;
    platform::ReachabilityFlags flags;
  } cases[] = {
      {NM::kStateConnectedGlobal, NM::full, R},
      {NM::kStateConnectedGlobal, NM::limited, R | c},
      {kStateConnectedSite, NM::portal, R | c | i},
      {NM::kStateConnectedGlobal, NM::none, 0},
      {NM::kStateConnectedGlobal, NM::unknown, R},
      {kStateConnectedSite, NM::unknown, 0},
      {kStateDisconnected, NM::full, R},  // connectivity wins over the state
  };
  for (const auto& kase : cases) {
    nm.set(kase.state, kase.connectivity);
    const auto read = opened.source->readFlags();
    EXPECT_EQ(read.flags, kase.flags) << "state " << kase.state << ", connectivity " << kase.connectivity;
  }
}

TEST_F(NetworkManagerReachabilityTest, EachPropertyChangeReachesTheMonitorAsOnePass) {
  quorvelle::test::FakeNetworkManager nm(QString::fromStdString(daemon.address()), NM::kStateConnectedGlobal,
                                         NM::full);
  auto main = std::make_shared<platform::QtMainExecutor>();
  auto monitor =
      Reachability::create({.source = NetworkManagerReachabilitySource::open(client()),
                            .serialQueue = std::make_shared<platform::ThreadSerialQueue>("nm-test"),
                            .notificationQueue = main,
                            .notificationCenter = std::make_shared<platform::NotificationCenter>()})
          .monitor;
  ASSERT_TRUE(monitor);
  std::vector<std::string> passes;
  auto reachable = monitor->onReachable().subscribe(
      [&](const DiziZozReachabilityMonitoring&) { passes.push_back("reachable " + monitor->description()); });
  auto unreachable = monitor->onUnreachable().subscribe([&](const DiziZozReachabilityMonitoring&) {
    passes.push_back("unreachable " + monitor->description());
  });

  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return passes.size() == 1; }, "passes.size() == 1"));

  // A captive portal and limited connectivity read as unavailable, so uploads pause.
  nm.set(std::nullopt, NM::portal);
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return passes.size() == 2; }, "passes.size() == 2"));
  EXPECT_EQ(monitor->connection(), DiziZozConnection::unavailable);
  nm.set(std::nullopt, NM::limited);
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return passes.size() == 3; }, "passes.size() == 3"));
  nm.set(std::nullopt, NM::unknown);
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return passes.size() == 4; }, "passes.size() == 4"));
  EXPECT_EQ(monitor->connection(), DiziZozConnection::wifi);
  nm.set(kStateDisconnected, std::nullopt);
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return passes.size() == 5; }, "passes.size() == 5"));

  // The same judgement again is no change.
  nm.set(kStateDisconnected, NM::unknown);
  nm.set(NM::kStateConnectedGlobal, NM::full);
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return passes.size() >= 6; }, "passes.size() >= 6"));
  EXPECT_EQ(passes, (std::vector<std::string>{"reachable -R -------", "unreachable -R c-i----",
                                              "unreachable -R c------", "reachable -R -------",
                                              "unreachable -- -------", "reachable -R -------"}));
}

TEST_F(NetworkManagerReachabilityTest, WithoutNetworkManagerOnTheBusReadsFailWithTheDbusError) {
  auto bus = client();
  EXPECT_FALSE(NetworkManagerReachabilitySource::ownsName(bus));
  auto monitor =
      Reachability::create({.source = NetworkManagerReachabilitySource::open(bus),
                            .serialQueue = std::make_shared<platform::ThreadSerialQueue>("nm-test"),
                            .notificationQueue = nullptr,
                            .notificationCenter = std::make_shared<platform::NotificationCenter>()})
          .monitor;
  ASSERT_TRUE(monitor);
  EXPECT_EQ(monitor->startNotifier(), "unableToGetFlags(" + std::to_string(QDBusError::ServiceUnknown) + ")");
  EXPECT_EQ(monitor->connection(), DiziZozConnection::unavailable);
}

}  // namespace
