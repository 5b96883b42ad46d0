#include "DiziZoz/errortracking/DiziZozCrashCustomDataWriter.h"

#include <utility>

#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"

namespace dizizoz {
namespace {

// Shared by every writer: the crash reporter holds one custom-data slot per process.
std::mutex& writeLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

DiziZozCrashCustomDataWriter::DiziZozCrashCustomDataWriter(Write write) : write_(std::move(write)) {}

void DiziZozCrashCustomDataWriter::setContext(Properties context) {
  std::lock_guard lock(lock_);
  context_ = context.is_object() ? std::move(context) : Properties::object();
  writeLocked();
}

void DiziZozCrashCustomDataWriter::setSteps(std::vector<Properties> steps) {
  std::lock_guard lock(lock_);
  steps_ = std::move(steps);
  writeLocked();
}

void DiziZozCrashCustomDataWriter::writeLocked() {
  Properties document = context_;
  document["$exception_steps"] = steps_;
  // Checked whole first: the sanitiser would drop a bad value and write a document missing a key.
  const auto json = isValidObject(document) ? toJSONData(document) : std::nullopt;
  if (!json) {
    hedgeLog("Failed to serialize exception steps customData");
    return;
  }
  std::lock_guard lock(writeLock());
  if (write_) write_(std::vector<std::uint8_t>(json->begin(), json->end()));
}

}  // namespace dizizoz
