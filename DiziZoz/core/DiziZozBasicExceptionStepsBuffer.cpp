#include "DiziZoz/core/DiziZozBasicExceptionStepsBuffer.h"

#include <utility>

#include "DiziZoz/core/JsonUtils.h"

namespace dizizoz {

DiziZozBasicExceptionStepsBuffer::DiziZozBasicExceptionStepsBuffer(int maxBytes,
                                                                   OnStepsChanged onStepsChanged)
    : maxBytes_(maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 0),
      onStepsChanged_(std::move(onStepsChanged)) {}

bool DiziZozBasicExceptionStepsBuffer::add(const Properties& step) {
  auto sanitized = sanitizeDictionary(step);
  if (!sanitized) return false;
  const auto message = sanitized->find("$message");
  if (message == sanitized->end() || !message->is_string() || message->get_ref<const std::string&>().empty())
    return false;
  const auto json = toJSONData(*sanitized);
  if (!json || json->size() > maxBytes_) return false;

  std::lock_guard notifyLock(notifyLock_);
  std::vector<Properties> steps;
  {
    std::lock_guard lock(lock_);
    if (closed_) return false;
    entries_.push_back({std::move(*sanitized), json->size()});
    totalBytes_ += json->size();
    while (totalBytes_ > maxBytes_ && !entries_.empty()) {
      totalBytes_ -= entries_.front().bytes;
      entries_.pop_front();
    }
    steps = stepsLocked();
  }
  if (onStepsChanged_) onStepsChanged_(steps);
  return true;
}

std::vector<Properties> DiziZozBasicExceptionStepsBuffer::getAttachable() const {
  std::lock_guard lock(lock_);
  return stepsLocked();
}

void DiziZozBasicExceptionStepsBuffer::clear() {
  std::lock_guard notifyLock(notifyLock_);
  {
    std::lock_guard lock(lock_);
    closed_ = true;
    entries_.clear();
    totalBytes_ = 0;
  }
  if (onStepsChanged_) onStepsChanged_({});
}

std::vector<Properties> DiziZozBasicExceptionStepsBuffer::stepsLocked() const {
  std::vector<Properties> steps;
  steps.reserve(entries_.size());
  for (const auto& entry : entries_) steps.push_back(entry.step);
  return steps;
}

}  // namespace dizizoz
