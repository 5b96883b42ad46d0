#pragma once

#include <functional>
#include <memory>
#include <string>

#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozExceptionStepsBuffering.h"
#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozPushSubscriptionHandling.h"
#include "DiziZoz/core/DiziZozQueueing.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/Value.h"

namespace platform {
class Clock;
class HostFacts;
class KeyWindowScreen;
class MainExecutor;
class NotificationCenter;
}  // namespace platform

namespace dizizoz {

class DiziZozApi;  // the analytics service's HTTP client, defined with delivery; the core only hands it on
class DiziZozConfig;
class DiziZozExceptionProcessing;
class DiziZozLogger;
class DiziZozReachabilityMonitoring;
class DiziZozRemoteConfigProviding;
class DiziZozReplayQueueing;
class DiziZozSDK;
class TimeBasedEpochGenerator;

// What a client's set-up builds its parts from, and the shared services they run on. A client takes one
// record at construction and calls the factories during set-up, in set-up's order, on the thread that
// calls setup() and under its set-up lock: a factory must not call back into the client.
//
// inert() is what the program starts with: real clock, ids, main executor and notification center, files
// in the standard location, and parts that keep events in memory without sending them (no API client,
// no flags, no reachability, no push), the basic exception list of DiziZozBasicExceptionProcessor and no
// exception-steps buffer. The delivery side (addDeliveryServices: the API client, remote configuration,
// reachability and the file-backed upload queues), integrations, error tracking (addErrorTrackingServices:
// the full exception list and the steps buffer) and the program replace the factories they own; the program
// installs its full record before it first touches DiziZozSDK::shared().
struct DiziZozServices {
  // What the queue factories get.
  struct QueueParts {
    std::shared_ptr<DiziZozConfig> config{};
    std::shared_ptr<DiziZozStorage> storage{};
    std::shared_ptr<DiziZozApi> api{};                              // may be null
    std::shared_ptr<DiziZozReachabilityMonitoring> reachability{};  // may be null
  };
  // What the remote-configuration factory gets. Both closures hold the client weakly.
  struct RemoteConfigParts {
    std::shared_ptr<DiziZozConfig> config{};
    std::shared_ptr<DiziZozStorage> storage{};
    std::shared_ptr<DiziZozApi> api{};
    // The person properties sent with flag requests by default (empty when the option is off).
    std::function<Properties()> defaultPersonProperties{};
    // Reports a flag value read by the application (flag key, value).
    std::function<void(const std::string& flagKey, const std::optional<Value>& value)> flagCalled{};
  };
  // What the push-handler factory gets. The handler subscribes to `onEventContextChanged` and keeps the
  // token; the multicast belongs to the client and outlives the handler.
  struct PushParts {
    std::shared_ptr<DiziZozApi> api{};
    std::shared_ptr<DiziZozStorage> storage{};
    std::shared_ptr<DiziZozConfig> config{};
    DiziZozPushProviders providers{};
    DiziZozMulticastCallback<Properties>* onEventContextChanged = nullptr;
  };

  // Shared services. None may be null.
  std::shared_ptr<const platform::Clock> clock;
  std::shared_ptr<TimeBasedEpochGenerator> idGenerator;  // event and session ids
  std::shared_ptr<platform::MainExecutor> mainExecutor;
  std::shared_ptr<platform::NotificationCenter> notificationCenter;
  std::shared_ptr<const platform::HostFacts> hostFacts;
  // The key window's screen for the event context; null leaves screen sizes out of events.
  std::shared_ptr<const platform::KeyWindowScreen> keyWindowScreen;

  // Where the client keeps its files.
  std::function<DiziZozStorageLocation(const DiziZozConfig&)> storageLocation;

  // Factories, in the order set-up calls them. A factory may give nothing where noted.
  std::function<std::shared_ptr<DiziZozApi>(const std::shared_ptr<DiziZozConfig>&)>
      makeApiClient;  // may be null
  // Called by close() on the API client set-up made: from then on it refuses every request, so that the
  // client's parts, whose jobs may still be running, never reach the transport again. Empty when the
  // record makes no API client.
  std::function<void(DiziZozApi&)> closeApiClient;
  std::function<std::shared_ptr<DiziZozRemoteConfigProviding>(RemoteConfigParts)> makeRemoteConfig;
  // Nothing when the platform's monitor cannot be created; the client then treats the network as usable.
  std::function<std::shared_ptr<DiziZozReachabilityMonitoring>(const DiziZozConfig&)> makeReachability;
  std::function<std::shared_ptr<DiziZozPushSubscriptionHandling>(PushParts)> makePushHandler;  // may be null
  // The resource attributes of log uploads, built once from the logs options.
  std::function<Properties(const DiziZozConfig&)> makeLogsResourceAttributes;
  std::function<std::shared_ptr<DiziZozQueueing<DiziZozEvent>>(QueueParts)> makeEventQueue;
  std::function<std::shared_ptr<DiziZozReplayQueueing>(QueueParts)> makeReplayQueue;
  std::function<std::shared_ptr<DiziZozQueueing<DiziZozLogRecord>>(QueueParts,
                                                                   const Properties& resourceAttributes)>
      makeLogsQueue;
  std::function<std::shared_ptr<DiziZozLogger>(std::weak_ptr<DiziZozSDK>)> makeLogger;
  // Error tracking's handled-exception support; null leaves handled exceptions without their list.
  std::shared_ptr<DiziZozExceptionProcessing> exceptionProcessor;
  // The exception-steps buffer (byte budget, change callback); may give nothing.
  std::function<std::shared_ptr<DiziZozExceptionStepsBuffering>(
      int maxBytes, DiziZozExceptionStepsBuffering::OnStepsChanged)>
      makeExceptionStepsBuffer;

  static DiziZozServices inert();

  // The record that DiziZozSDK::shared() is made with. Install before the first call of shared(); false
  // (and nothing changes) once the shared client exists.
  static bool install(DiziZozServices services);
  static DiziZozServices installed();

 private:
  friend class DiziZozSDK;
  // The installed record, sealed: later installs are refused.
  static DiziZozServices takeForSharedClient();
};

}  // namespace dizizoz
