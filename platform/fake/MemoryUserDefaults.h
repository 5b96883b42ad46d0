#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/UserDefaults.h"

namespace platform::fake {

// UserDefaults kept in memory; starts empty or with the given values. Thread-safe.
class MemoryUserDefaults final : public UserDefaults {
 public:
  MemoryUserDefaults() = default;
  explicit MemoryUserDefaults(DefaultsValue::Dictionary initial) : values_(std::move(initial)) {}

  std::optional<DefaultsValue> objectForKey(std::string_view key) const override {
    std::lock_guard lock(mutex_);
    auto it = values_.find(std::string(key));
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  void set(std::string_view key, DefaultsValue value) override {
    std::lock_guard lock(mutex_);
    values_[std::string(key)] = std::move(value);
    writes_.emplace_back(key);
  }
  void remove(std::string_view key) override {
    std::lock_guard lock(mutex_);
    values_.erase(std::string(key));
  }
  DefaultsValue::Dictionary dictionaryRepresentation() const override {
    std::lock_guard lock(mutex_);
    return values_;
  }

  // The key of every set() so far, in order; a test takes them with takeWrites().
  std::vector<std::string> takeWrites() {
    std::lock_guard lock(mutex_);
    return std::exchange(writes_, {});
  }

 private:
  mutable std::mutex mutex_;
  DefaultsValue::Dictionary values_;
  std::vector<std::string> writes_;
};

}  // namespace platform::fake
