// Sends events through the real analytics client to a running service (tools/dizizoz-collector by
// default), so that a person can watch batching, pauses and retries: the client runs on its real
// delivery (files, HTTP, serial queues) over a thread that plays the main thread.

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozReplayQueueing.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/delivery/DeliveryServices.h"
#include "DiziZoz/delivery/DiziZozQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadMainExecutor.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tools/StopSignals.h"

namespace {

constexpr const char* kTool = "dizizoz-send";
constexpr const char* kBundleIdentifier = "com.quorvelle.dizizoz-send";

const char* kHelp =
    "usage: dizizoz-send [--host URL] [--token T] [--distinct-id ID] [--wait SECONDS] [--debug] [EVENT...]\n"
    "\n"
    "Sets up the analytics client on its real delivery, identifies, captures each EVENT (an event name)\n"
    "and flushes, then flushes again every second until nothing is queued or the wait ends. Events are\n"
    "stored under $XDG_DATA_HOME/com.quorvelle.dizizoz-send/ first: what is not delivered stays there and\n"
    "goes with the next run (run it without events to send only what is left).\n"
    "\n"
    "  --host URL        the analytics service (default http://127.0.0.1:8788, where dizizoz-collector\n"
    "                    listens)\n"
    "  --token T         the project token (default phc_dizizoz_send)\n"
    "  --distinct-id ID  the identity to identify with (default dizizoz-send)\n"
    "  --wait SECONDS    how long to keep retrying (default 30)\n"
    "  --debug           print the client's diagnostics: queued records, batches, pauses, retries\n"
    "\n"
    "At the end it says how many events the service took (delivered), how many the client gave up\n"
    "(dropped; see the README) and why, and how many stay queued. A stored record that cannot be read back\n"
    "as an event (a foreign or damaged file, one over the size cap, an entry that is not a regular file)\n"
    "is dropped too. Exits 0 only when every event it captured was delivered and nothing was dropped,\n"
    "1 otherwise, 2 on a bad argument.\n"
    "The network's reachability is not watched: the service is expected on this machine.\n";

// Waits up to `seconds` for Ctrl+C or a termination request (blocked by StopSignals); true when one came.
bool stopRequested(double seconds) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  const auto nanoseconds = static_cast<long long>(seconds * 1e9);
  const timespec timeout{static_cast<time_t>(nanoseconds / 1'000'000'000),
                         static_cast<long>(nanoseconds % 1'000'000'000)};
  return sigtimedwait(&signals, nullptr, &timeout) > 0;
}

std::size_t queuedRecords(dizizoz::DiziZozSDK& client) {
  std::size_t count = 0;
  if (auto events = client.queue()) count += events->depth();
  if (auto replay = client.replayQueue()) count += replay->innerQueue().depth();
  if (auto logs = client.logsQueue()) count += logs->depth();
  return count;
}

// The causes of the dropped records, each with its count ("1 refused for good, 2 not a regular file").
std::string droppedCauses(const dizizoz::DiziZozQueueTally& tally) {
  const std::pair<std::size_t, const char*> causes[] = {
      {tally.refused, "refused for good"},
      {tally.abandoned, "deleted after repeated failures"},
      {tally.overflowed, "the oldest when the queue was full"},
      {tally.rateCapped, "over the rate cap"},
      {tally.unstored, "could not be stored"},
      {tally.undecodable, "not readable as an event"},
      {tally.oversized, "over the size cap"},
      {tally.notRegularFile, "not a regular file"},
      {tally.unreadable, "could not be read"},
  };
  std::string text;
  for (const auto& [count, cause] : causes) {
    if (count == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " " + cause;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "http://127.0.0.1:8788";
  std::string token = "phc_dizizoz_send";
  std::string distinctId = "dizizoz-send";
  double waitSeconds = 30;
  bool debug = false;
  std::vector<std::string> events;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--debug") {
      debug = true;
    } else if (arg == "--host" && hasValue) {
      host = argv[++i];
    } else if (arg == "--token" && hasValue) {
      token = argv[++i];
    } else if (arg == "--distinct-id" && hasValue) {
      distinctId = argv[++i];
    } else if (arg == "--wait" && hasValue) {
      char* end = nullptr;
      waitSeconds = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(waitSeconds >= 0) || waitSeconds > 86'400) {
        std::fprintf(stderr, "%s: bad value \"%s\" for --wait\n", kTool, argv[i]);
        return 2;
      }
    } else if (arg.starts_with("--") || arg.empty()) {
      std::fprintf(stderr, "%s: unknown argument \"%s\"\n\n%s", kTool, arg.c_str(), kHelp);
      return 2;
    } else {
      events.push_back(arg);
    }
  }

  const StopSignals stopSignals;  // before any thread starts
  platform::CurlHttpClient http;
  auto services = dizizoz::DiziZozServices::inert();
  services.mainExecutor = std::make_shared<platform::ThreadMainExecutor>("dizizoz-send-main");
  dizizoz::addDeliveryServices(
      services, {.http = &http,
                 .makeSerialQueue = [](std::string_view label) -> std::shared_ptr<platform::SerialQueue> {
                   return std::make_shared<platform::ThreadSerialQueue>(std::string(label));
                 },
                 .openReachabilitySource = {}});

  auto config = dizizoz::DiziZozConfig::withApiKey(token, host, {.identifier = kBundleIdentifier});
  config->debug = debug;
  auto client = dizizoz::DiziZozSDK::with(config, services);
  if (!client || !client->queue()) {
    std::fprintf(stderr, "%s: the client could not be set up with token \"%s\"\n", kTool, token.c_str());
    return 2;
  }
  client->identify(distinctId);
  // Counted from here on: the tool's own captures, not the identify event.
  std::atomic<std::size_t> handedToQueue{0};
  const auto captured =
      client->onEventCaptured.subscribe([&](const dizizoz::DiziZozEvent&) { ++handedToQueue; });
  for (const auto& event : events) client->capture(event);
  const auto eventQueue =
      std::dynamic_pointer_cast<dizizoz::DiziZozQueue<dizizoz::DiziZozEvent>>(client->queue());
  std::printf("%s: captured %zu event(s) for %s, sending to %s\n", kTool, events.size(), distinctId.c_str(),
              host.c_str());
  std::fflush(stdout);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(waitSeconds);
  std::size_t queued = queuedRecords(*client);
  while (queued > 0 && std::chrono::steady_clock::now() < deadline) {
    client->flush();
    if (stopRequested(1.0)) break;
    queued = queuedRecords(*client);
  }
  client->close();
  const dizizoz::DiziZozQueueTally tally = eventQueue ? eventQueue->tally() : dizizoz::DiziZozQueueTally{};
  const std::size_t refused = events.size() - std::min(events.size(), handedToQueue.load());
  if (refused > 0) {
    std::printf("%s: the client refused %zu of the %zu event(s) at capture (see --debug)\n", kTool, refused,
                events.size());
  }
  // Events left by an earlier run count too: they go with the first batches.
  std::printf("%s: %zu event(s) delivered, %zu dropped, %zu record(s) stay queued for the next run\n", kTool,
              tally.delivered, tally.dropped(), queued);
  if (tally.dropped() > 0) std::printf("%s: dropped: %s\n", kTool, droppedCauses(tally).c_str());
  // The client's queue threads may still be finishing a request after close; ending here, without
  // running destructors, leaves them no destroyed transport to call.
  std::fflush(stdout);
  std::_Exit(refused == 0 && tally.dropped() == 0 && queued == 0 ? 0 : 1);
}
