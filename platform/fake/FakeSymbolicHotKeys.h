#pragma once

#include <mutex>

#include "platform/SymbolicHotKeys.h"

namespace platform::fake {

// A settable list of the desktop's own hot keys; nothing set reads as an unreadable list. Thread-safe.
class FakeSymbolicHotKeys final : public SymbolicHotKeys {
 public:
  std::optional<std::vector<Entry>> copySymbolicHotKeys() const override {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  void setEntries(std::optional<std::vector<Entry>> entries) {
    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
  }
  // Adds an enabled entry.
  void add(std::int64_t keyCode, std::int64_t modifiers) {
    std::lock_guard lock(mutex_);
    if (!entries_) entries_.emplace();
    entries_->push_back(Entry{true, keyCode, modifiers});
  }

 private:
  mutable std::mutex mutex_;
  std::optional<std::vector<Entry>> entries_;
};

}  // namespace platform::fake
