#include "DiziZoz/core/DiziZozServices.h"

#include <mutex>
#include <optional>
#include <utility>

#include "DiziZoz/core/DiziZozBasicExceptionProcessor.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozLogger.h"
#include "DiziZoz/core/DiziZozLogsOTLP.h"
#include "DiziZoz/core/DiziZozMemoryQueue.h"
#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"
#include "platform/HostFacts.h"
#include "platform/MainExecutor.h"
#include "platform/NotificationCenter.h"

namespace dizizoz {
namespace {

// A shared_ptr to a process-wide object that is never destroyed.
template <typename T>
std::shared_ptr<T> unowned(T& object) {
  return std::shared_ptr<T>(std::shared_ptr<void>(), &object);
}

struct InstalledRecord {
  std::mutex lock;
  std::optional<DiziZozServices> services;  // lock
  bool sealed = false;                      // lock
};

InstalledRecord& installedRecord() {
  static auto* record = new InstalledRecord;
  return *record;
}

}  // namespace

DiziZozServices DiziZozServices::inert() {
  DiziZozServices services;
  services.clock = unowned<const platform::Clock>(platform::SystemClock::shared());
  services.idGenerator = unowned(TimeBasedEpochGenerator::shared());
  services.mainExecutor = unowned(platform::standaloneMainExecutor());
  services.notificationCenter = unowned(platform::NotificationCenter::defaultCenter());
  services.hostFacts = unowned(platform::systemHostFacts());
  services.storageLocation = [](const DiziZozConfig& config) {
    return DiziZozStorageLocation::standard(config.bundle().identifier);
  };
  services.makeApiClient = [](const std::shared_ptr<DiziZozConfig>&) { return nullptr; };
  services.makeRemoteConfig = [](RemoteConfigParts) { return std::make_shared<DiziZozInertRemoteConfig>(); };
  services.makeReachability = [](const DiziZozConfig&) { return nullptr; };
  services.makePushHandler = [](PushParts) { return nullptr; };
  services.makeLogsResourceAttributes = [](const DiziZozConfig& config) {
    return DiziZozLogsOTLP::buildResourceAttributes(*config.logs);
  };
  services.makeEventQueue = [](QueueParts parts) {
    return std::make_shared<DiziZozMemoryQueue<DiziZozEvent>>(parts.config->maxQueueSize);
  };
  services.makeReplayQueue = [](QueueParts parts) {
    return std::make_shared<DiziZozMemoryReplayQueue>(parts.config->maxQueueSize);
  };
  services.makeLogsQueue = [](QueueParts parts, const Properties&) {
    return std::make_shared<DiziZozMemoryQueue<DiziZozLogRecord>>(parts.config->logs->maxBufferSize);
  };
  services.makeLogger = [](std::weak_ptr<DiziZozSDK> sdk) {
    return std::make_shared<DiziZozLogger>(std::move(sdk));
  };
  services.exceptionProcessor = std::make_shared<DiziZozBasicExceptionProcessor>();
  // Error tracking brings the steps buffer (addErrorTrackingServices); without it steps are not kept.
  services.makeExceptionStepsBuffer = [](int, DiziZozExceptionStepsBuffering::OnStepsChanged) {
    return nullptr;
  };
  return services;
}

bool DiziZozServices::install(DiziZozServices services) {
  auto& record = installedRecord();
  std::lock_guard lock(record.lock);
  if (record.sealed) {
    hedgeLog("Services installed after DiziZozSDK.shared was created; the shared client keeps its own.");
    return false;
  }
  record.services = std::move(services);
  return true;
}

DiziZozServices DiziZozServices::installed() {
  auto& record = installedRecord();
  std::lock_guard lock(record.lock);
  return record.services ? *record.services : inert();
}

DiziZozServices DiziZozServices::takeForSharedClient() {
  auto& record = installedRecord();
  std::lock_guard lock(record.lock);
  record.sealed = true;
  return record.services ? *record.services : inert();
}

}  // namespace dizizoz
