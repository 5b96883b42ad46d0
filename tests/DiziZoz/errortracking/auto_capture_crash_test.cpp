// Crash capture through the analytics client: a real crash of the crash demo and the next run sending it,
// and the integration's remote gate and life cycle. Crash handlers are the process's and stay once
// enabled, so every case that may enable them runs in a child process of its own.

#include <elf.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DZCrashReporter/capture/DZCrashSignalHandler.h"
#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/delivery/DiziZozRemoteConfig.h"
#include "DiziZoz/errortracking/DiziZozErrorTrackingAutoCaptureIntegration.h"
#include "DiziZoz/errortracking/ErrorTrackingServices.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/DZCrashReporter/CrashReportFixture.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozErrorTrackingAutoCaptureIntegration;
using dizizoz::DiziZozIntegrationInstallResult;
using dizizoz::DiziZozIntegrationInstallSkipReason;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using quorvelle::test::AnalyticsServiceStandIn;
using quorvelle::test::ChildProcess;
using quorvelle::test::ScopedEnvironment;
using quorvelle::test::TempDir;
using Json = nlohmann::json;

constexpr const char* kDemoBundle = "com.quorvelle.crashdemo";
constexpr const char* kToken = "phc_crash_demo";
const std::string kDemo = std::string(QUORVELLE_BINARY_DIR) + "/tools/dizizoz-crash-demo";

std::filesystem::path pendingReportPath(const std::filesystem::path& cacheHome, const std::string& bundle) {
  return cacheHome / "com.dizizoz.crashreporter.data" / bundle / "live_report.dzcrash";
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// ---- Looking the demo's code up with the crash reporter's own ELF reader ----

// The demo executable laid out as the loader maps it at `base` (its load segments, zero-filled beyond
// their file bytes), read through a buffer task.
class LoadedImage {
 public:
  LoadedImage(const std::string& path, uint64_t base) {
    std::ifstream in(path, std::ios::binary);
    file_.assign(std::istreambuf_iterator<char>(in), {});
    Elf64_Ehdr header;
    std::memcpy(&header, file_.data(), sizeof header);
    for (int i = 0; i < header.e_phnum; ++i) {
      Elf64_Phdr segment;
      std::memcpy(&segment, file_.data() + header.e_phoff + i * header.e_phentsize, sizeof segment);
      if (segment.p_type != PT_LOAD) continue;
      auto& bytes = segments_.emplace_back(segment.p_memsz, 0);
      std::memcpy(bytes.data(), file_.data() + segment.p_offset, segment.p_filesz);
      regions_.push_back({base + segment.p_vaddr, bytes.data(), bytes.size(), true});
    }
    dzcrash::DZcrash_task_init_buffer(&task_, regions_.data(), regions_.size());
    ok_ = dzcrash::DZcrash_nasync_elf_init(&elf_, &task_, path.c_str(), base) == dzcrash::DZCRASH_OK;
  }
  ~LoadedImage() {
    if (ok_) dzcrash::DZcrash_nasync_elf_free(&elf_);
  }
  LoadedImage(const LoadedImage&) = delete;
  LoadedImage& operator=(const LoadedImage&) = delete;

  bool ok() const { return ok_; }

  // The exported function that holds `address`, or "".
  std::string symbolAt(uint64_t address) const {
    std::string name;
    dzcrash::DZcrash_async_elf_find_symbol_by_pc(
        &elf_, address,
        [](uint64_t, const char* found, void* out) { *static_cast<std::string*>(out) = found; }, &name);
    return name;
  }

  std::string buildId() const {
    std::string hex;
    char digits[3];
    for (size_t i = 0; i < elf_.build_id_length; ++i) {
      std::snprintf(digits, sizeof digits, "%02x", elf_.build_id[i]);
      hex += digits;
    }
    return hex;
  }

 private:
  std::vector<uint8_t> file_;
  std::vector<std::vector<uint8_t>> segments_;
  std::vector<dzcrash::dzcrash_task_region> regions_;
  dzcrash::dzcrash_task task_{};
  dzcrash::dzcrash_async_elf elf_{};
  bool ok_ = false;
};

uint64_t hexValue(const Json& text) {
  return std::stoull(text.get<std::string>(), nullptr, 16);
}

std::vector<Json> exceptionEvents(const AnalyticsServiceStandIn& service) {
  std::vector<Json> events;
  for (const auto& event : service.events()) {
    if (event.value("event", "") == "$exception") events.push_back(event);
  }
  return events;
}

// ---- End to end: a crash, then the next run sends it ----

class CrashDemoRuns : public testing::Test {
 protected:
  CrashDemoRuns() { service.setRemoteConfig({{"errorTracking", {{"autocaptureExceptions", true}}}}); }

  // A run of the demo with its own data folder and the shared crash reporter folder.
  std::unique_ptr<ChildProcess> run(const std::string& mode, const std::string& dataFolder) {
    ScopedEnvironment environment{{"XDG_DATA_HOME", (folder / dataFolder).string()},
                                  {"XDG_CACHE_HOME", cacheHome().string()},
                                  {"XDG_CONFIG_HOME", (folder / "config").string()}};
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{kDemo, "--host", service.baseURL(), "--token", kToken, mode});
  }

  std::filesystem::path cacheHome() const { return folder / "cache"; }
  std::filesystem::path pendingReport() const { return pendingReportPath(cacheHome(), kDemoBundle); }

  TempDir folder;
  AnalyticsServiceStandIn service{{.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}};
};

TEST_F(CrashDemoRuns, TheNextRunSendsTheCrashAsOneFatalExceptionOfTheCrashedRun) {
  auto crashing = run("crash", "first-run");
  constexpr std::string_view marker = "crashing in session ";
  ASSERT_TRUE(crashing->waitForOutput(marker)) << crashing->output();
  EXPECT_EQ(crashing->wait(), -1) << "the demo was not killed by its crash\n" << crashing->output();
  const auto sessionAt = crashing->output().find(marker) + marker.size();
  const std::string crashedSession =
      crashing->output().substr(sessionAt, crashing->output().find('\n', sessionAt) - sessionAt);
  ASSERT_TRUE(std::filesystem::exists(pendingReport())) << crashing->output();

  // A fresh data folder: whatever the event carries of the crashed run came through the report.
  auto sending = run("send", "second-run");
  ASSERT_EQ(sending->wait(20s), 0) << sending->output();
  EXPECT_FALSE(std::filesystem::exists(pendingReport()));

  const auto events = exceptionEvents(service);
  ASSERT_EQ(events.size(), 1u) << sending->output();
  const Json& event = events[0];
  const Json& properties = event.at("properties");
  EXPECT_EQ(event.at("distinct_id"), "crash-demo-user");
  EXPECT_EQ(properties.at("$session_id"), crashedSession);
  EXPECT_EQ(properties.at("demo_run"), "crash");
  EXPECT_EQ(properties.at("$exception_level"), "fatal");
  const Json& steps = properties.at("$exception_steps");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].at("$message"), "Opened the settings");
  EXPECT_EQ(steps[1].at("$message"), "Saved the key");
  EXPECT_EQ(steps[1].at("length"), 39);

  ASSERT_EQ(properties.at("$exception_list").size(), 1u);
  const Json& entry = properties.at("$exception_list")[0];
  EXPECT_EQ(entry.at("type"), "SIGSEGV");
  EXPECT_EQ(entry.at("value"), "SIGSEGV (code SEGV_MAPERR) at address 0x0000000000000010");
  EXPECT_EQ(entry.at("mechanism"),
            (Json{{"type", "signal"},
                  {"handled", false},
                  {"synthetic", false},
                  {"meta", {{"signal", {{"code", "SEGV_MAPERR"}, {"name", "SIGSEGV"}}}}}}));

  const std::string demoPath = std::filesystem::canonical(kDemo).string();
  const Json& frames = entry.at("stacktrace").at("frames");
  ASSERT_GE(frames.size(), 2u);
  const Json& crashSite = frames[frames.size() - 1];
  const Json& caller = frames[frames.size() - 2];
  EXPECT_EQ(crashSite.at("module"), "dizizoz-crash-demo");
  EXPECT_EQ(crashSite.at("package"), demoPath);
  LoadedImage demo(demoPath, hexValue(crashSite.at("image_addr")));
  ASSERT_TRUE(demo.ok());
  EXPECT_EQ(demo.symbolAt(hexValue(crashSite.at("instruction_addr"))), "dizizoz_demo_crash");
  EXPECT_EQ(demo.symbolAt(hexValue(caller.at("instruction_addr"))), "dizizoz_demo_run_until_crash");

  const Json& images = properties.at("$debug_images");
  const auto image = std::find_if(images.begin(), images.end(),
                                  [&](const Json& i) { return i.at("code_file") == demoPath; });
  ASSERT_NE(image, images.end()) << images.dump();
  EXPECT_EQ(image->at("type"), "elf");
  EXPECT_EQ(image->at("image_addr"), crashSite.at("image_addr"));
  EXPECT_EQ(image->at("debug_id"), demo.buildId());
  EXPECT_FALSE(demo.buildId().empty());
}

TEST_F(CrashDemoRuns, ACorruptReportIsLoggedAndGoneAfterTheNextStart) {
  writeFile(pendingReport(), {'d', 'z', 'c', 'r', 'a', 's', 'h', 1, 0xff, 0xff, 0xff});
  auto sending = run("send", "data");
  ASSERT_EQ(sending->wait(20s), 0) << sending->output();
  EXPECT_NE(sending->output().find("[DiziZoz] Failed to process crash report: "), std::string::npos)
      << sending->output();
  EXPECT_FALSE(std::filesystem::exists(pendingReport()));
  EXPECT_TRUE(exceptionEvents(service).empty());
}

// The README's walk: the collector started with no options, the demo's "crash" and then "send" with
// theirs, again and again in one user's folders. The collector listens on a free port here rather than
// its default (where the demo's default host points), so that parallel runs never meet.
TEST(CrashDemoWithTheCollector, TheReadmesWalkDeliversEveryCrash) {
  TempDir folder;
  ChildProcess collector({std::string(QUORVELLE_BINARY_DIR) + "/tools/dizizoz-collector", "--port", "0"});
  ASSERT_TRUE(collector.waitForOutput("listening on http://")) << collector.output();
  ASSERT_TRUE(collector.waitForOutput("\n")) << collector.output();
  const auto at = collector.output().find("http://");
  const std::string host = collector.output().substr(at, collector.output().find('\n', at) - at);
  ScopedEnvironment environment{{"XDG_DATA_HOME", (folder / "data").string()},
                                {"XDG_CACHE_HOME", (folder / "cache").string()},
                                {"XDG_CONFIG_HOME", (folder / "config").string()}};
  constexpr std::string_view event = " $exception crash-demo-user\n";
  std::size_t seen = 0;
  // The first run caches the collector's remote configuration; the later ones start with it.
  for (int run = 1; run <= 3; ++run) {
    ChildProcess crashing({kDemo, "--host", host, "crash"});
    EXPECT_EQ(crashing.wait(20s), -1) << "run " << run << " did not crash\n" << crashing.output();
    ChildProcess sending({kDemo, "--host", host, "send"});
    ASSERT_EQ(sending.wait(20s), 0) << sending.output();
    ASSERT_TRUE(collector.waitForOutput(event, quorvelle::test::kStateDeadline, seen))
        << "run " << run << " sent no crash\n"
        << sending.output() << collector.output();
    seen = collector.output().find(event, seen) + event.size();
  }
}

// ---- The remote gate and the life cycle, each in a child process ----

// Runs `scenario` in a child process (traced by this one when `traced`) and returns what it reported:
// empty when every check held, else the first failed check.
std::string inChild(const std::function<std::string()>& scenario, bool traced = false) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(3);
    const std::string failure = scenario();
    if (!failure.empty()) (void)!write(pipeFds[1], failure.data(), failure.size());
    _exit(failure.empty() ? 0 : 1);
  }
  close(pipeFds[1]);
  std::string failure;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    failure.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  // A traced child stops at each signal it gets: let it go on with that signal.
  while (waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
    ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(WSTOPSIG(status))));
  }
  if (!WIFEXITED(status)) return "the child did not exit";
  if (WEXITSTATUS(status) == 3) return "PTRACE_TRACEME failed";
  return failure;
}

#define CHECK_THAT(condition) \
  if (!(condition)) return std::string("line ") + std::to_string(__LINE__) + ": " #condition

// Whether this process has the crash handler on SIGSEGV.
bool crashHandlerInstalled() {
  struct sigaction action = {};
  sigaction(SIGSEGV, nullptr, &action);
  return (action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == dzcrash::DZcrash_signal_handler;
}

bool logged(const dizizoz::test::CapturedLog& log, const std::string& line) {
  return std::find(log.lines.begin(), log.lines.end(), line) != log.lines.end();
}

// A client over the test services whose API client and remote configuration are real, against the
// stand-in; the store's loads wait on `storeQueue`, its events on the services' manual main executor.
struct GateHarness {
  GateHarness() {
    dizizoz::registerErrorTrackingIntegrationFactory();
    setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
  }

  std::shared_ptr<DiziZozConfig> config(bool autoCapture = true) {
    auto config = std::make_shared<DiziZozConfig>(
        kToken, service.baseURL(), dizizoz::DiziZozBundleInfo{.identifier = "com.quorvelle.app"});
    config->errorTrackingConfig->autoCapture = autoCapture;
    config->preloadFeatureFlags = false;
    config->debug = true;  // set-up applies it to the diagnostic lines the checks read
    config->disableFlushOnBackgroundForTesting = true;
    return config;
  }

  std::shared_ptr<DiziZozSDK> setUp(std::shared_ptr<DiziZozConfig> config) {
    auto services = ts.services();
    dizizoz::addErrorTrackingServices(services);
    services.makeApiClient = [this](const std::shared_ptr<DiziZozConfig>& config) {
      return std::make_shared<dizizoz::DiziZozApi>(
          config, dizizoz::test::loopbackApiEnvironment(http, completions, retries, ts.clock));
    };
    services.makeRemoteConfig = dizizoz::DiziZozRemoteConfig::servicesFactory(
        [this](std::string_view) { return storeQueue; }, services.mainExecutor, services.notificationCenter);
    auto client = DiziZozSDK::create(config, services);
    client->setup(config);
    return client;
  }

  // Lets the store fetch the configuration the stand-in serves, and delivers its event.
  bool loadRemoteConfig(const std::shared_ptr<DiziZozSDK>& client) {
    const auto store = std::dynamic_pointer_cast<dizizoz::DiziZozRemoteConfig>(client->remoteConfig());
    storeQueue->drain();
    const bool fetched = completions->runUntil([&] { return store->hasFetchedRemoteConfig(); });
    ts.executor.runUntilIdle();
    return fetched;
  }

  // Caches `remoteConfig` as the one an earlier start fetched.
  void cacheRemoteConfig(const Json& remoteConfig) {
    auto config = this->config();
    dizizoz::DiziZozStorage::open(*config, ts.location())
        ->setJson(dizizoz::DiziZozStorage::StorageKey::remoteConfig, remoteConfig);
  }

  std::filesystem::path pendingReport() const {
    return pendingReportPath(folder / "cache", "com.quorvelle.app");
  }

  void writeReport(dzcrash::test::ReportShape shape = {}) {
    writeFile(pendingReport(), dzcrash::test::packReportFile(shape));
  }

  std::shared_ptr<DiziZozErrorTrackingAutoCaptureIntegration> integration(
      const std::shared_ptr<DiziZozSDK>& client) {
    for (const auto& installed : client->installedIntegrations()) {
      if (auto found = std::dynamic_pointer_cast<DiziZozErrorTrackingAutoCaptureIntegration>(installed))
        return found;
    }
    return nullptr;
  }

  std::vector<dizizoz::DiziZozEvent> queued() const {
    const auto queue = ts.lastEventQueue();
    return queue ? queue->records() : std::vector<dizizoz::DiziZozEvent>{};
  }

  TempDir folder;
  AnalyticsServiceStandIn service{{.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}};
  dizizoz::test::TestServices ts;
  platform::CurlHttpClient http;
  std::shared_ptr<quorvelle::test::WaitingExecutor> completions =
      std::make_shared<quorvelle::test::WaitingExecutor>();
  std::shared_ptr<platform::fake::ManualSerialQueue> retries =
      std::make_shared<platform::fake::ManualSerialQueue>();
  std::shared_ptr<platform::fake::ManualSerialQueue> storeQueue =
      std::make_shared<platform::fake::ManualSerialQueue>();
};

const Json kOff = {{"errorTracking", {{"autocaptureExceptions", false}}}};
const Json kOn = {{"errorTracking", {{"autocaptureExceptions", true}}}};

TEST(AutoCaptureGate, CachedOffPurgesAndSkipsThenAFreshOnInstallsAndEnables) {
  EXPECT_EQ(
      inChild([] {
        GateHarness h;
        dizizoz::test::CapturedLog log;
        h.cacheRemoteConfig(kOff);
        h.writeReport();
        h.service.setRemoteConfig(kOn);
        auto client = h.setUp(h.config());
        CHECK_THAT(!std::filesystem::exists(h.pendingReport()));
        CHECK_THAT(
            logged(log, "[DiziZoz] Autocapture disabled by remote config, purging pending crash report"));
        CHECK_THAT(logged(log,
                          "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration skipped: "
                          "Disabled in remote config"));
        CHECK_THAT(h.integration(client) == nullptr);
        CHECK_THAT(!crashHandlerInstalled());
        CHECK_THAT(h.queued().empty());

        CHECK_THAT(h.loadRemoteConfig(client));
        CHECK_THAT(h.integration(client) != nullptr);
        CHECK_THAT(logged(log, "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration added"));
        CHECK_THAT(crashHandlerInstalled());
        return std::string();
      }),
      "");
}

TEST(AutoCaptureGate, NotYetLoadedInstallsAndALaterOffRemovesAndStopsCustomData) {
  EXPECT_EQ(
      inChild([] {
        GateHarness h;
        dizizoz::test::CapturedLog log;
        h.service.setRemoteConfig(kOff);
        auto client = h.setUp(h.config());
        auto integration = h.integration(client);
        CHECK_THAT(integration != nullptr);
        CHECK_THAT(crashHandlerInstalled());
        const auto contextSubscribers = client->onEventContextChanged.subscriberCount();
        const auto stepSubscribers = client->onExceptionStepsChanged.subscriberCount();

        CHECK_THAT(h.loadRemoteConfig(client));
        CHECK_THAT(h.integration(client) == nullptr);
        CHECK_THAT(logged(log, "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration removed"));
        // The custom-data writer no longer hears of context or steps.
        CHECK_THAT(client->onEventContextChanged.subscriberCount() == contextSubscribers - 1);
        CHECK_THAT(client->onExceptionStepsChanged.subscriberCount() == stepSubscribers - 1);
        return std::string();
      }),
      "");
}

TEST(AutoCaptureGate, OneInstallPerProcessAndUninstallLetsItInstallAgain) {
  EXPECT_EQ(
      inChild([] {
        GateHarness h;
        dizizoz::test::CapturedLog log;
        auto first = h.setUp(h.config());
        CHECK_THAT(h.integration(first) != nullptr);

        auto other = std::make_shared<DiziZozErrorTrackingAutoCaptureIntegration>();
        CHECK_THAT(other->install(*first) == DiziZozIntegrationInstallResult::skipped(
                                                 DiziZozIntegrationInstallSkipReason::alreadyInstalled));

        const auto installed = h.integration(first);
        first->removeIntegration(installed);
        CHECK_THAT(other->install(*first) == DiziZozIntegrationInstallResult::installed());
        // The handlers stay from the first enable: the second reporter cannot enable again.
        CHECK_THAT(
            logged(log,
                   "[DiziZoz] Failed to enable DZCrashReporter: A DZCrashReporter instance has already "
                   "been enabled"));
        CHECK_THAT(crashHandlerInstalled());
        other->uninstall(*first);
        return std::string();
      }),
      "");
}

TEST(AutoCaptureGate, ASecondClientIsSkipped) {
  EXPECT_EQ(inChild([] {
              GateHarness h;
              dizizoz::test::CapturedLog log;
              auto first = h.setUp(h.config());
              auto config = h.config();
              auto second = h.setUp(config);
              CHECK_THAT(h.integration(first) != nullptr);
              CHECK_THAT(h.integration(second) == nullptr);
              CHECK_THAT(logged(log,
                                "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration skipped: "
                                "Already installed to another DiziZozSDK instance"));
              return std::string();
            }),
            "");
}

TEST(AutoCaptureGate, AnIgnoredExceptionTypeQueuesNothingAndTheReportIsGone) {
  EXPECT_EQ(inChild([] {
              GateHarness h;
              dizizoz::test::CapturedLog log;
              dzcrash::test::ReportShape shape;
              shape.exception =
                  dzcrash::test::ExceptionShape{.name = "RCTFatalException", .reason = "x", .frames = {}};
              h.writeReport(shape);
              auto client = h.setUp(h.config());
              CHECK_THAT(!std::filesystem::exists(h.pendingReport()));
              CHECK_THAT(logged(log,
                                "[DiziZoz] Crash report skipped: exception type is in "
                                "errorTrackingConfig.ignoredExceptionTypes"));
              for (const auto& event : h.queued()) CHECK_THAT(event.event != "$exception");
              return std::string();
            }),
            "");
}

TEST(AutoCaptureGate, UnderADebuggerTheReportIsSentButNoHandlerIsInstalled) {
  EXPECT_EQ(
      inChild(
          [] {
            GateHarness h;
            dizizoz::test::CapturedLog log;
            h.writeReport();
            auto client = h.setUp(h.config());
            const auto queued = h.queued();
            CHECK_THAT(std::count_if(queued.begin(), queued.end(),
                                     [](const auto& event) { return event.event == "$exception"; }) == 1);
            CHECK_THAT(!crashHandlerInstalled());
            CHECK_THAT(logged(log,
                              "[DiziZoz] Crash handler is disabled because a debugger is attached. Crashes "
                              "will be caught by the debugger instead."));
            return std::string();
          },
          true),
      "");
}

TEST(AutoCaptureGate, AutoCaptureOffLeavesThePendingReportUntouched) {
  EXPECT_EQ(inChild([] {
              GateHarness h;
              h.writeReport();
              const auto before = std::filesystem::last_write_time(h.pendingReport());
              auto client = h.setUp(h.config(false));
              CHECK_THAT(std::filesystem::exists(h.pendingReport()));
              CHECK_THAT(std::filesystem::last_write_time(h.pendingReport()) == before);
              CHECK_THAT(h.integration(client) == nullptr);
              CHECK_THAT(!crashHandlerInstalled());
              return std::string();
            }),
            "");
}

TEST(AutoCaptureGate, TheEventCarriesTheCrashedRunsContextWithTheCrashWinningAndItsTimestamp) {
  EXPECT_EQ(
      inChild([] {
        GateHarness h;
        const std::string customData =
            R"({"distinct_id":"crashed-user","event_properties":{"$exception_level":"error","plan":"pro"},)"
            R"("$exception_steps":[{"$message":"step","$timestamp":"2026-01-01T00:00:00Z"}]})";
        dzcrash::test::ReportShape shape;
        shape.timestamp = 1700000000;
        shape.customData = std::vector<uint8_t>(customData.begin(), customData.end());
        h.writeReport(shape);
        auto client = h.setUp(h.config());
        const auto queued = h.queued();
        CHECK_THAT(queued.size() == 1);
        const auto& event = queued[0];
        CHECK_THAT(event.event == "$exception");
        CHECK_THAT(event.distinctId == "crashed-user");
        CHECK_THAT(event.properties.at("$exception_level") == "fatal");
        CHECK_THAT(event.properties.at("plan") == "pro");
        CHECK_THAT(event.properties.at("$exception_steps").size() == 1);
        CHECK_THAT(event.properties.at("$exception_steps")[0].at("$message") == "step");
        CHECK_THAT(!event.properties.contains("$lib"));  // nothing of this run's context
        CHECK_THAT(event.timestamp == dizizoz::Date(std::chrono::seconds(1700000000)));
        return std::string();
      }),
      "");
}

}  // namespace
