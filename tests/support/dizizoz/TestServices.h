#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozBasicExceptionProcessor.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozLogger.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/errortracking/DiziZozExceptionStepsBuffer.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/FixedHostFacts.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/SeededRandom.h"
#include "platform/fake/StoredKeyWindowScreen.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/dizizoz/CallLog.h"
#include "tests/support/dizizoz/FakePushSubscriptionHandler.h"
#include "tests/support/dizizoz/FakeReachability.h"
#include "tests/support/dizizoz/FakeRemoteConfig.h"
#include "tests/support/dizizoz/RecordingQueue.h"

namespace dizizoz::test {

// A services record for clients under test: a manual clock shared by a manual main executor, seeded ids,
// a private notification center, fixed host facts, files in a temporary folder, and recording parts. Each
// factory call is written to `factoryLog` ("api", "remoteConfig", "reachability", "pushHandler",
// "logsAttributes", "eventQueue", "replayQueue", "logsQueue", "logger", "stepsBuffer"), as are the queues'
// own calls. Handled exceptions use the basic processor of the default services, steps error tracking's
// buffer.
// The parts made last are kept for the test (`lastEventQueue`, ...). `withReachability` and `withPush`
// choose whether those factories give a part.
//
// Create it on the test's thread (that thread is the main executor's); it must outlive its clients.
class TestServices {
 public:
  TestServices() = default;
  TestServices(const TestServices&) = delete;
  TestServices& operator=(const TestServices&) = delete;

  platform::fake::ManualClock clock;
  platform::fake::ManualExecutor executor{clock};
  platform::fake::SeededRandom random{7};
  std::shared_ptr<TimeBasedEpochGenerator> ids = std::make_shared<TimeBasedEpochGenerator>(clock, random);
  std::shared_ptr<platform::NotificationCenter> notifications =
      std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<platform::fake::FixedHostFacts> hostFacts =
      std::make_shared<platform::fake::FixedHostFacts>();
  std::shared_ptr<platform::fake::StoredKeyWindowScreen> keyWindowScreen =
      std::make_shared<platform::fake::StoredKeyWindowScreen>();
  quorvelle::test::TempDir folder;
  std::shared_ptr<CallLog> factoryLog = std::make_shared<CallLog>();

  bool withReachability = true;
  bool withPush = true;

  std::shared_ptr<FakeRemoteConfig> lastRemoteConfig() const { return locked(lastRemoteConfig_); }
  std::shared_ptr<FakeReachability> lastReachability() const { return locked(lastReachability_); }
  std::shared_ptr<FakePushSubscriptionHandler> lastPushHandler() const { return locked(lastPushHandler_); }
  std::shared_ptr<RecordingQueue<DiziZozEvent>> lastEventQueue() const { return locked(lastEventQueue_); }
  std::shared_ptr<RecordingReplayQueue> lastReplayQueue() const { return locked(lastReplayQueue_); }
  std::shared_ptr<RecordingQueue<DiziZozLogRecord>> lastLogsQueue() const { return locked(lastLogsQueue_); }

  DiziZozStorageLocation location() const {
    DiziZozStorageLocation location;
    location.applicationSupport = folder / "com.quorvelle.app";
    location.bundleIdentifier = "com.quorvelle.app";
    return location;
  }

  DiziZozServices services() {
    DiziZozServices s;
    auto unowned = [](auto& object) {
      return std::shared_ptr<std::remove_reference_t<decltype(object)>>(std::shared_ptr<void>(), &object);
    };
    s.clock = unowned(clock);
    s.mainExecutor = unowned(executor);
    s.idGenerator = ids;
    s.notificationCenter = notifications;
    s.hostFacts = hostFacts;
    s.keyWindowScreen = keyWindowScreen;
    s.storageLocation = [this](const DiziZozConfig&) { return location(); };
    s.makeApiClient = [log = factoryLog](const std::shared_ptr<DiziZozConfig>&) {
      log->add("api");
      return nullptr;
    };
    s.makeRemoteConfig = [this](DiziZozServices::RemoteConfigParts parts) {
      factoryLog->add("remoteConfig");
      return keep(lastRemoteConfig_, std::make_shared<FakeRemoteConfig>(std::move(parts)));
    };
    s.makeReachability = [this](const DiziZozConfig&) -> std::shared_ptr<DiziZozReachabilityMonitoring> {
      factoryLog->add("reachability");
      if (!withReachability) return nullptr;
      return keep(lastReachability_, std::make_shared<FakeReachability>());
    };
    s.makePushHandler =
        [this](DiziZozServices::PushParts parts) -> std::shared_ptr<DiziZozPushSubscriptionHandling> {
      factoryLog->add("pushHandler");
      if (!withPush) return nullptr;
      return keep(lastPushHandler_, std::make_shared<FakePushSubscriptionHandler>(std::move(parts)));
    };
    s.makeLogsResourceAttributes = [log = factoryLog](const DiziZozConfig&) {
      log->add("logsAttributes");
      return Properties{{"service.name", "test"}};
    };
    s.makeEventQueue = [this](DiziZozServices::QueueParts) {
      factoryLog->add("eventQueue");
      return keep(lastEventQueue_, std::make_shared<RecordingQueue<DiziZozEvent>>("events", factoryLog));
    };
    s.makeReplayQueue = [this](DiziZozServices::QueueParts) {
      factoryLog->add("replayQueue");
      return keep(lastReplayQueue_, std::make_shared<RecordingReplayQueue>(factoryLog));
    };
    s.makeLogsQueue = [this](DiziZozServices::QueueParts, const Properties&) {
      factoryLog->add("logsQueue");
      return keep(lastLogsQueue_, std::make_shared<RecordingQueue<DiziZozLogRecord>>("logs", factoryLog));
    };
    s.makeLogger = [log = factoryLog](std::weak_ptr<DiziZozSDK> sdk) {
      log->add("logger");
      return std::make_shared<DiziZozLogger>(std::move(sdk));
    };
    s.exceptionProcessor = std::make_shared<DiziZozBasicExceptionProcessor>();
    s.makeExceptionStepsBuffer = [log = factoryLog](
                                     int maxBytes, DiziZozExceptionStepsBuffering::OnStepsChanged onChanged) {
      log->add("stepsBuffer");
      return std::make_shared<DiziZozExceptionStepsBuffer>(maxBytes, std::move(onChanged));
    };
    return s;
  }

  // A client over this record with `config`, not set up.
  std::shared_ptr<DiziZozSDK> client(std::shared_ptr<DiziZozConfig> config) {
    return DiziZozSDK::create(std::move(config), services());
  }

 private:
  template <typename T>
  std::shared_ptr<T> keep(std::shared_ptr<T>& slot, std::shared_ptr<T> part) {
    std::lock_guard lock(lock_);
    slot = part;
    return part;
  }
  template <typename T>
  std::shared_ptr<T> locked(const std::shared_ptr<T>& slot) const {
    std::lock_guard lock(lock_);
    return slot;
  }

  mutable std::mutex lock_;
  std::shared_ptr<FakeRemoteConfig> lastRemoteConfig_;
  std::shared_ptr<FakeReachability> lastReachability_;
  std::shared_ptr<FakePushSubscriptionHandler> lastPushHandler_;
  std::shared_ptr<RecordingQueue<DiziZozEvent>> lastEventQueue_;
  std::shared_ptr<RecordingReplayQueue> lastReplayQueue_;
  std::shared_ptr<RecordingQueue<DiziZozLogRecord>> lastLogsQueue_;
};

}  // namespace dizizoz::test
