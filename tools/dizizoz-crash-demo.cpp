// The analytics client with crash capture on, over its real queues, storage and remote configuration, in
// two runs: "crash" sets the client up, identifies, records two exception steps and crashes (SIGSEGV at
// address 0x10); "send" sets it up again, which sends the crash report left behind as a "$exception"
// event, and waits until the event queue has been uploaded. Point it at dizizoz-collector to watch:
//
//   dizizoz-collector --port 8788 &
//   dizizoz-crash-demo --host http://127.0.0.1:8788 crash; dizizoz-crash-demo --host http://127.0.0.1:8788
//   send
//
// Files live where the client and the crash reporter keep them ($XDG_DATA_HOME, $XDG_CACHE_HOME). The
// client's diagnostic lines go to standard output; "crash" prints "session <id>" before crashing.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/delivery/DeliveryServices.h"
#include "DiziZoz/errortracking/DiziZozErrorTrackingAutoCaptureIntegration.h"
#include "DiziZoz/errortracking/ErrorTrackingServices.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadSerialQueue.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kHelp =
    "usage: dizizoz-crash-demo [--host URL] [--token TOKEN] crash|send\n"
    "  crash  set up, identify as \"crash-demo-user\", record two steps, crash by SIGSEGV at 0x10\n"
    "  send   set up (sending the pending crash report) and wait until the events are uploaded\n";
constexpr const char* kBundleIdentifier = "com.quorvelle.crashdemo";
constexpr auto kUploadWait = 20s;

}  // namespace

// Exported, so that reports and the tests' symbol lookups can name it.
extern "C" __attribute__((noinline)) void dizizoz_demo_crash() {
  // Read at run time, so that the optimiser neither folds the store nor warns about it.
  static volatile std::uintptr_t faultAddress = 0x10;
  *reinterpret_cast<volatile int*>(faultAddress) = 1;
  asm volatile("");  // no tail position: the caller stays on the stack
}

extern "C" __attribute__((noinline)) void dizizoz_demo_run_until_crash() {
  dizizoz_demo_crash();
  asm volatile("");
}

int main(int argc, char** argv) {
  std::string host = "http://127.0.0.1:8788";
  std::string token = "phc_crash_demo";
  std::string_view mode;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--host" && i + 1 < argc) {
      host = argv[++i];
    } else if (arg == "--token" && i + 1 < argc) {
      token = argv[++i];
    } else if (arg == "crash" || arg == "send") {
      mode = arg;
    } else {
      std::fputs(kHelp, stderr);
      return 2;
    }
  }
  if (mode.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  platform::CurlHttpClient http;
  auto services = dizizoz::DiziZozServices::inert();
  dizizoz::addErrorTrackingServices(services);
  dizizoz::addDeliveryServices(
      services, {.http = &http,
                 .makeSerialQueue =
                     [](std::string_view label) {
                       return std::make_shared<platform::ThreadSerialQueue>(std::string(label));
                     },
                 .openReachabilitySource = {}});
  dizizoz::registerErrorTrackingIntegrationFactory();

  auto config = std::make_shared<dizizoz::DiziZozConfig>(
      token, host,
      dizizoz::DiziZozBundleInfo{.identifier = kBundleIdentifier, .executableName = "dizizoz-crash-demo"});
  config->debug = true;
  config->flushAt = 1;
  config->errorTrackingConfig->autoCapture = true;
  config->disableReachabilityForTesting = true;
  auto client = dizizoz::DiziZozSDK::create(config, services);
  client->setup(config);

  if (mode == "crash") {
    client->identify("crash-demo-user");
    client->registerProperties({{"demo_run", "crash"}});
    client->addExceptionStep("Opened the settings");
    client->addExceptionStep("Saved the key", dizizoz::Properties{{"length", 39}});
    std::printf("crashing in session %s\n", client->getSessionId().value_or("").c_str());
    dizizoz_demo_run_until_crash();
    return 1;  // not reached
  }

  const auto deadline = std::chrono::steady_clock::now() + kUploadWait;
  while (client->queue()->depth() > 0 && std::chrono::steady_clock::now() < deadline) {
    client->flush();
    std::this_thread::sleep_for(50ms);
  }
  const bool sent = client->queue()->depth() == 0;
  std::printf(sent ? "uploaded\n" : "not uploaded\n");
  client->close();
  // The client's queue threads may still be finishing a request (remote configuration, a flush) after
  // close; ending here, without running destructors, leaves them no destroyed transport to call.
  std::fflush(stdout);
  std::_Exit(sent ? 0 : 1);
}
