#include "DiziZoz/errortracking/DiziZozExceptionStepsBuffer.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "DiziZoz/core/JsonUtils.h"

namespace dizizoz {
namespace {

constexpr const char* messageKey = "$message";
constexpr const char* timestampKey = "$timestamp";

bool hasMessage(const Properties& step) {
  const auto message = step.find(messageKey);
  return message != step.end() && message->is_string() && !message->get_ref<const std::string&>().empty();
}

bool hasTimestamp(const Properties& step) {
  const auto timestamp = step.find(timestampKey);
  return timestamp != step.end() && (timestamp->is_string() || timestamp->is_number());
}

std::optional<std::size_t> serializedSize(const Properties& step) {
  try {
    return step.dump().size();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

DiziZozExceptionStepsBuffer::DiziZozExceptionStepsBuffer(int maxBytes, OnStepsChanged onStepsChanged)
    : maxBytes_(maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 0),
      onStepsChanged_(std::move(onStepsChanged)) {}

bool DiziZozExceptionStepsBuffer::add(const Properties& step) {
  auto sanitized = sanitizeDictionary(step);
  if (!sanitized || sanitized->empty()) return false;
  if (!hasMessage(*sanitized) || !hasTimestamp(*sanitized)) return false;
  const auto size = serializedSize(*sanitized);
  if (!size || *size > maxBytes_) return false;

  std::lock_guard notifyLock(notifyLock_);
  std::vector<Properties> steps;
  {
    std::lock_guard lock(lock_);
    if (closed_) return false;
    entries_.push_back({std::move(*sanitized), *size});
    totalBytes_ += *size;
    trimToMaxBytesLocked();
    steps = stepsLocked();
  }
  if (onStepsChanged_) onStepsChanged_(steps);
  return true;
}

std::vector<Properties> DiziZozExceptionStepsBuffer::getAttachable() const {
  std::lock_guard lock(lock_);
  return stepsLocked();
}

void DiziZozExceptionStepsBuffer::clear() {
  std::lock_guard notifyLock(notifyLock_);
  {
    std::lock_guard lock(lock_);
    closed_ = true;
    entries_.clear();
    totalBytes_ = 0;
  }
  if (onStepsChanged_) onStepsChanged_({});
}

void DiziZozExceptionStepsBuffer::trimToMaxBytesLocked() {
  while (totalBytes_ > maxBytes_ && !entries_.empty()) {
    totalBytes_ -= entries_.front().bytes;
    entries_.pop_front();
  }
}

std::vector<Properties> DiziZozExceptionStepsBuffer::stepsLocked() const {
  std::vector<Properties> steps;
  steps.reserve(entries_.size());
  for (const auto& entry : entries_) steps.push_back(entry.step);
  return steps;
}

}  // namespace dizizoz
