#pragma once

#include <functional>
#include <memory>
#include <string>

#include "DiziZoz/core/DiziZozServices.h"

namespace platform {
class SerialQueue;
}

namespace dizizoz {

// Replaces the in-memory queues of `services` with the file-backed upload queues (events, replay
// snapshots, log records) on the services' clock, id generator and main executor; each queue gets a
// serial queue of its own from `makeSerialQueue`. Must run after the services' shared parts are set.
void useFileBackedQueues(
    DiziZozServices& services,
    std::function<std::shared_ptr<platform::SerialQueue>(const std::string& label)> makeSerialQueue);

}  // namespace dizizoz
