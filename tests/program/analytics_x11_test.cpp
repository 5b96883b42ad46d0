// The program's analytics end to end: the real executable on a desktop with a window manager and a tray,
// with a fresh configuration, reporting to the analytics service stand-in through the two environment
// values of the bundle keys.

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/Versions.h"
#include "app/Analytics.h"
#include "app/DeviceIdentity.h"
#include "platform/Random.h"
#include "platform/linux/CompiledBundleInfo.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/MachineIdFileIdentity.h"
#include "tests/program/ProgramProbe.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/http/LoopbackHttpServer.h"
#include "tests/support/qt/DesktopTools.h"

namespace {

using quorvelle::test::waitUntil;

using quorvelle::test::runTool;
using quorvelle::test::startChild;
using quorvelle::test::stopChild;
using quorvelle::test::windowGeometry;
using quorvelle::test::xdotool;

namespace fs = std::filesystem;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsServiceStandIn;
using Json = nlohmann::json;

// Well under the analytics requests' own 10 s timeout: a quit that waited for a hanging upload would miss it.
constexpr std::chrono::milliseconds kQuitTimeout{8000};
constexpr const char* kToken = "phc_stand_in";
constexpr const char* kBundleId = "com.quorvelle.app";

// The events of the queue files left in `folder`, oldest first.
std::vector<Json> queuedEvents(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); ++it)
    files.push_back(it->path());
  std::sort(files.begin(), files.end());
  std::vector<Json> events;
  for (const auto& file : files) events.push_back(Json::parse(std::ifstream(file), nullptr, false));
  return events;
}

class AnalyticsX11Test : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    for (const char* tool : {"openbox", "trayer", "xdotool"}) {
      ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
          << tool << " is needed (scripts/setup.sh installs it)";
    }
    // The tray is up before the program starts, which would otherwise open its settings window instead.
    ASSERT_NO_FATAL_FAILURE(quorvelle::test::startWindowManager(windowManager_));
    ASSERT_NO_FATAL_FAILURE(quorvelle::test::startTray(tray_));
    // A window of another application, to take the focus from the program.
    other_.setWindowTitle("Another application");
    other_.setGeometry(100, 600, 300, 100);
    other_.show();
    ASSERT_TRUE(
        waitUntil([&] { return other_.windowHandle() != nullptr && other_.windowHandle()->isExposed(); },
                  "the window other_ is exposed"));
  }

  void TearDown() override {
    stopChild(program_);
    stopChild(tray_);
    stopChild(windowManager_);
  }

  fs::path configHome() const { return home_ / "config"; }
  // Where the program answers snapshots of its windows.
  QString probePath() const { return QString::fromStdString((home_ / "probe").string()); }
  fs::path dataHome() const { return home_ / "data"; }
  fs::path analyticsFolder() const { return dataHome() / kBundleId; }
  fs::path queueFolder() const { return analyticsFolder() / kToken / "dizizoz.queueFolder.uuid"; }

  // A fresh configuration; the analytics keys from the environment when `host` is given.
  QProcessEnvironment programEnvironment(const std::optional<std::string>& host) const {
    return programEnvironment(host, home_.path());
  }
  QProcessEnvironment programEnvironment(const std::optional<std::string>& host, const fs::path& home) const {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home.string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    env.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
    env.insert("XDG_CACHE_HOME", QString::fromStdString((home / "cache").string()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert(quorvelle::TestProbe::kVariable, probePath());
    // Nothing here goes to the backend; no keyring is asked for.
    env.insert("QUORVELLE_BACKEND_URL", "http://127.0.0.1:9");
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    env.remove("QUORVELLE_DIZIZOZ_API_KEY");
    env.remove("QUORVELLE_DIZIZOZ_HOST");
    if (host) {
      env.insert("QUORVELLE_DIZIZOZ_API_KEY", kToken);
      env.insert("QUORVELLE_DIZIZOZ_HOST", QString::fromStdString(*host));
    }
    return env;
  }

  // Starts the program and waits for its tray icon and its onboarding window.
  void startProgram(const QProcessEnvironment& env) {
    programLog_.clear();
    trayIcon_.clear();
    onboarding_.clear();
    program_ = startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/program/quorvelle"), {}, env);
    QObject::connect(program_.get(), &QProcess::readyReadStandardError,
                     [this] { programLog_ += QString::fromUtf8(program_->readAllStandardError()); });
    ASSERT_TRUE(waitUntil([&] { return program_->state() == QProcess::Running; }, "the program started"));
    ASSERT_TRUE(waitUntil(
        [&] {
          for (const QString& window : programWindows()) {
            const auto frame = windowGeometry(window);
            if (!frame) continue;
            (frame->height() <= 24 ? trayIcon_ : onboarding_) = window;
          }
          return !trayIcon_.isEmpty() && !onboarding_.isEmpty();
        },
        "!trayIcon_.isEmpty() && !onboarding_.isEmpty()"))
        << "no tray icon and onboarding window; program output:\n"
        << programLog_.toStdString();
  }

  QStringList programWindows() {
    const auto out =
        runTool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(program_->processId())});
    return out ? out->split('\n', Qt::SkipEmptyParts) : QStringList();
  }

  // The program becomes the active application, then another one takes the focus: the program reports
  // being opened and backgrounded, and flushes its queue.
  void focusTheProgramAndLeaveIt() {
    xdotool({"windowactivate", "--sync", onboarding_});
    // The program hears of the focus after the window manager has moved it: it takes it first.
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto snapshot = quorvelle::test::readProbe(probePath());
          for (const auto& window :
               snapshot ? snapshot->windows : std::vector<quorvelle::test::ProbedWindow>{}) {
            if (window.id == onboarding_ && window.active) return true;
          }
          return false;
        },
        "the program has its window active"));
    xdotool({"windowactivate", "--sync", QString::number(other_.winId())});
  }

  void quitThroughTheTrayMenu() {
    ASSERT_NO_FATAL_FAILURE(quorvelle::test::openTrayMenu(trayIcon_, [this] { return programWindows(); }));
    ASSERT_NO_FATAL_FAILURE(quorvelle::test::clickMenuItem(probePath(), "Quit Quorvelle"));
  }

  void expectEndedWithStatusZero(std::chrono::milliseconds within = quorvelle::test::kStateDeadline) {
    ASSERT_TRUE(
        waitUntil([&] { return program_->state() == QProcess::NotRunning; }, "the program ended", within));
    EXPECT_EQ(program_->exitStatus(), QProcess::NormalExit) << programLog_.toStdString();
    EXPECT_EQ(program_->exitCode(), 0) << programLog_.toStdString();
  }

  void terminate() {
    program_->terminate();
    ASSERT_NO_FATAL_FAILURE(expectEndedWithStatusZero());
  }

  // The event of that name the service received, once it has.
  static std::optional<Json> waitForEventNamed(const AnalyticsServiceStandIn& service,
                                               const std::string& name) {
    std::optional<Json> found;
    (void)waitUntil(
        [&] {
          for (const auto& event : service.events()) {
            if (event["event"] == name) found = event;
          }
          return found.has_value();
        },
        "found.has_value()");
    return found;
  }

  quorvelle::test::TempDir home_;
  QWidget other_;
  std::unique_ptr<QProcess> windowManager_;
  std::unique_ptr<QProcess> tray_;
  std::unique_ptr<QProcess> program_;
  QString programLog_;
  QString trayIcon_;
  QString onboarding_;
};

TEST_F(AnalyticsX11Test, AFreshRunIdentifiesTheDeviceAndReportsTheInstallWithVersionAndBuild) {
  AnalyticsServiceStandIn service;
  ASSERT_NO_FATAL_FAILURE(startProgram(programEnvironment(service.baseURL())));
  ASSERT_NO_FATAL_FAILURE(focusTheProgramAndLeaveIt());

  const auto installed = waitForEventNamed(service, "Application Installed");
  const auto identify = waitForEventNamed(service, "$identify");
  ASSERT_TRUE(installed && identify) << programLog_.toStdString();
  ASSERT_NO_FATAL_FAILURE(terminate());
  EXPECT_TRUE(
      programLog_.contains(QString::fromStdString("using the analytics service at " + service.baseURL())))
      << programLog_.toStdString();
  EXPECT_TRUE(service.problems().empty()) << service.problems().front();
  for (const auto& batch : service.requests(AnalyticsEndpoint::batch)) EXPECT_TRUE(batch.gzipped);

  // The device id the program derives, from the machine and the program's own settings.
  platform::FileUserDefaults defaults(configHome() / "quorvelle" / "settings.json");
  platform::MachineIdFileIdentity machine;
  const quorvelle::DeviceIdentity device(machine, defaults, platform::SystemRandom::shared());
  EXPECT_EQ((*identify)["distinct_id"], device.deviceID());
  // The install came first, under the anonymous id that the identify names.
  EXPECT_EQ((*identify)["properties"]["$anon_distinct_id"], (*installed)["distinct_id"]);
  EXPECT_NE((*installed)["distinct_id"], device.deviceID());

  const platform::CompiledBundleInfo bundle;
  namespace keys = platform::bundle_keys;
  EXPECT_EQ((*installed)["properties"]["version"], *bundle.infoValue(keys::shortVersion));
  EXPECT_EQ((*installed)["properties"]["build"], dizizoz::parseBundleVersion(*bundle.infoValue(keys::build)));
}

TEST_F(AnalyticsX11Test, EventsOfAKilledRunCutOffFromTheServiceStayOnDiskAndTheNextRunDeliversThem) {
  // The service's address, where nothing answers until the next run: the port stays the test's meanwhile.
  quorvelle::test::RefusingPort cutOff;
  const std::string host = cutOff.baseURL();
  ASSERT_NO_FATAL_FAILURE(startProgram(programEnvironment(host)));
  ASSERT_NO_FATAL_FAILURE(focusTheProgramAndLeaveIt());
  // Opened, then backgrounded: the last event of the run is on disk once backgrounding is.
  std::vector<Json> stored;
  ASSERT_TRUE(waitUntil(
      [&] {
        stored = queuedEvents(queueFolder());
        return !stored.empty() && stored.back()["event"] == "Application Backgrounded";
      },
      "!stored.empty() && stored.back()[\"event\"] == \"Application Backgrounded\""));
  program_->kill();
  ASSERT_TRUE(
      waitUntil([&] { return program_->state() == QProcess::NotRunning; }, "the killed program ended"));
  // The kill loses none of them. (The run may have stored more after the look above: the splash moves on
  // by itself.)
  const std::vector<Json> kept = queuedEvents(queueFolder());
  ASSERT_GE(kept.size(), stored.size());
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), kept.begin()));
  stored = kept;

  AnalyticsServiceStandIn::Options options;
  options.port = cutOff.port();
  cutOff.release();
  AnalyticsServiceStandIn service(options);
  ASSERT_NO_FATAL_FAILURE(startProgram(programEnvironment(host)));
  ASSERT_NO_FATAL_FAILURE(focusTheProgramAndLeaveIt());
  for (const auto& event : stored) {
    const std::string uuid = event["uuid"];
    const auto delivered = service.waitForEvent(uuid);
    ASSERT_TRUE(delivered) << event["event"] << " " << uuid << " was not delivered";
    EXPECT_EQ((*delivered)["event"], event["event"]);
  }
  ASSERT_NO_FATAL_FAILURE(terminate());
  std::vector<std::string> names;
  for (const auto& event : stored) {
    // The splash moves on by itself after a while: on a busy machine it may have done so before the kill.
    if (event["event"] == "onboarding_step_completed" && event["properties"]["step"] == "splash") continue;
    names.push_back(event["event"]);
  }
  // A fresh configuration: the onboarding window shows, and says so.
  EXPECT_EQ(names, (std::vector<std::string>{"Application Installed", "$identify", "onboarding_started",
                                             "Application Opened", "Application Backgrounded"}));
}

TEST_F(AnalyticsX11Test, AStoredOptOutSendsNothing) {
  AnalyticsServiceStandIn service;
  const auto config =
      dizizoz::DiziZozConfig::withApiKey(kToken, service.baseURL(), {.identifier = kBundleId});
  dizizoz::DiziZozStorageLocation location;
  location.applicationSupport = analyticsFolder();
  location.bundleIdentifier = kBundleId;
  dizizoz::DiziZozStorage::open(*config, location)
      ->setJson(dizizoz::DiziZozStorage::StorageKey::optOut, true);

  ASSERT_NO_FATAL_FAILURE(startProgram(programEnvironment(service.baseURL())));
  ASSERT_NO_FATAL_FAILURE(focusTheProgramAndLeaveIt());
  // A second way round, so that any flush has had its time.
  ASSERT_NO_FATAL_FAILURE(focusTheProgramAndLeaveIt());
  ASSERT_NO_FATAL_FAILURE(terminate());
  EXPECT_TRUE(service.requests(AnalyticsEndpoint::batch).empty());
  EXPECT_TRUE(service.events().empty());
  EXPECT_TRUE(queuedEvents(queueFolder()).empty());
}

TEST_F(AnalyticsX11Test, QuittingFromTheTrayWhileAnUploadHangsEndsAtOnceAndKeepsTheQueuedFiles) {
  AnalyticsServiceStandIn service;
  service.script(AnalyticsEndpoint::batch, quorvelle::test::analytics_reply::hanging());
  ASSERT_NO_FATAL_FAILURE(startProgram(programEnvironment(service.baseURL())));
  ASSERT_NO_FATAL_FAILURE(focusTheProgramAndLeaveIt());
  ASSERT_TRUE(service.waitForRequests(AnalyticsEndpoint::batch, 1));
  const auto hanging = service.requests(AnalyticsEndpoint::batch).front().events();
  ASSERT_FALSE(hanging.empty());

  ASSERT_NO_FATAL_FAILURE(quitThroughTheTrayMenu());
  ASSERT_NO_FATAL_FAILURE(expectEndedWithStatusZero(kQuitTimeout));
  std::set<std::string> kept;
  for (const auto& event : queuedEvents(queueFolder())) kept.insert(event["uuid"].get<std::string>());
  for (const auto& event : hanging) EXPECT_TRUE(kept.contains(event["uuid"].get<std::string>())) << event;
  service.stop();
}

// A fresh run sends its first flags request at set-up (the device's identify) and parks a second one
// behind it (the start-up load after the remote configuration). The service keeps the answer back until
// the quit has begun: in one run of two it answers right after the quit signal, so that the answer lands
// during the client's close or while the program is torn down; in the other it never answers, and the
// request ends when the program's transport cancels it on its way out. Either way the parked request used
// to go to the destroyed transport ("pure virtual method called", SIGABRT). QUORVELLE_QUIT_RUNS sets how
// many quits (tools/analytics-quit-runs.sh asks for 300).
TEST_F(AnalyticsX11Test, QuittingWhileAFlagsAnswerIsOnItsWayEndsCleanlyEveryTime) {
  const char* requested = std::getenv("QUORVELLE_QUIT_RUNS");
  const int runs = requested ? std::max(1, std::atoi(requested)) : 20;
  int clean = 0;
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE("quit " + std::to_string(run + 1));
    const quorvelle::test::TempDir home;
    AnalyticsServiceStandIn service;
    const auto answer = service.holdNext(AnalyticsEndpoint::flags);
    ASSERT_NO_FATAL_FAILURE(startProgram(programEnvironment(service.baseURL(), home.path())));
    ASSERT_TRUE(waitUntil(
        [&] {
          return !service.requests(AnalyticsEndpoint::flags).empty() &&
                 !service.requests(AnalyticsEndpoint::remoteConfig).empty();
        },
        "the first flags request and the remote configuration's at the service"))
        << programLog_.toStdString();
    program_->terminate();
    if (run % 2 == 0) answer();
    // How soon a quit ends while an analytics request hangs is the tray-quit test's; this one is about how
    // it ends.
    ASSERT_NO_FATAL_FAILURE(expectEndedWithStatusZero());
    if (program_->exitStatus() == QProcess::NormalExit && program_->exitCode() == 0) ++clean;
  }
  std::printf("%d of %d quits during a flags answer ended cleanly\n", clean, runs);
}

TEST_F(AnalyticsX11Test, WithoutKeysTheProgramSendsNothingAndCreatesNoAnalyticsFolder) {
  const platform::CompiledBundleInfo bundle;
  ASSERT_FALSE(bundle.infoValue(quorvelle::Analytics::kApiKeyInfoKey))
      << "this build has analytics keys compiled in; the default build has none";
  ASSERT_NO_FATAL_FAILURE(startProgram(programEnvironment(std::nullopt)));
  ASSERT_NO_FATAL_FAILURE(focusTheProgramAndLeaveIt());
  // Nothing was sent: the transport's library was never even loaded.
  QFile maps(QString("/proc/%1/maps").arg(program_->processId()));
  ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
  EXPECT_FALSE(QString::fromUtf8(maps.readAll()).contains("libcurl"));
  ASSERT_NO_FATAL_FAILURE(terminate());
  EXPECT_FALSE(fs::exists(analyticsFolder()));
  EXPECT_FALSE(programLog_.contains("analytics")) << programLog_.toStdString();
}

}  // namespace
