#include "DiziZoz/delivery/DeliveryQueues.h"

#include <utility>

#include "DiziZoz/delivery/DiziZozQueue.h"
#include "DiziZoz/delivery/DiziZozReplayQueue.h"
#include "DiziZoz/delivery/QueueEndpoint.h"

namespace dizizoz {

namespace {

template <typename T>
typename DiziZozQueue<T>::Environment queueEnvironment(
    const DiziZozServices& services,
    const std::function<std::shared_ptr<platform::SerialQueue>(const std::string&)>& makeSerialQueue) {
  typename DiziZozQueue<T>::Environment environment;
  environment.mainExecutor = services.mainExecutor.get();
  environment.makeSerialQueue = makeSerialQueue;
  environment.clock = services.clock.get();
  environment.files.clock = services.clock.get();
  environment.files.ids = services.idGenerator.get();
  environment.owners = {services.mainExecutor, services.clock, services.idGenerator};
  return environment;
}

}  // namespace

void useFileBackedQueues(
    DiziZozServices& services,
    std::function<std::shared_ptr<platform::SerialQueue>(const std::string& label)> makeSerialQueue) {
  const auto events = queueEnvironment<DiziZozEvent>(services, makeSerialQueue);
  const auto logs = queueEnvironment<DiziZozLogRecord>(services, makeSerialQueue);
  services.makeEventQueue = [events](DiziZozServices::QueueParts parts) {
    return std::static_pointer_cast<DiziZozQueueing<DiziZozEvent>>(DiziZozQueue<DiziZozEvent>::create(
        *parts.config, *parts.storage, QueueEndpoint<DiziZozEvent>::batch(parts.api), parts.reachability,
        events));
  };
  services.makeReplayQueue = [events](DiziZozServices::QueueParts parts) {
    return std::static_pointer_cast<DiziZozReplayQueueing>(std::make_shared<DiziZozReplayQueue>(
        *parts.config, *parts.storage, parts.api, parts.reachability, events));
  };
  services.makeLogsQueue = [logs](DiziZozServices::QueueParts parts, const Properties& resourceAttributes) {
    return std::static_pointer_cast<DiziZozQueueing<DiziZozLogRecord>>(DiziZozQueue<DiziZozLogRecord>::create(
        *parts.config, *parts.storage, QueueEndpoint<DiziZozLogRecord>::logs(parts.api, resourceAttributes),
        parts.reachability, logs));
  };
}

}  // namespace dizizoz
