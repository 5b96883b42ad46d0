#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

#include "DiziZoz/core/DiziZozExceptionStepsBuffering.h"

namespace dizizoz {

// The recent "steps" the application recorded, oldest first, attached to exception events and mirrored
// into the crash reporter's custom data. The steps' compact JSON forms add up to at most `maxBytes`
// (0 for a negative budget, which refuses every step).
//
// add() sanitises the step (sanitizeDictionary) and refuses it unless it has a non-empty "$message" text
// and a "$timestamp" text or number, serialises, and fits the budget on its own; an accepted step evicts
// the oldest ones until the total fits again. clear() empties the buffer for good: later adds are
// refused. Nothing is logged and nothing throws.
//
// Thread-safe. Each change is reported on the changing thread with the buffer's state unlocked but the
// notification lock held, so reports arrive one at a time in the order of the changes and a subscriber
// may call getAttachable(); it must not add or clear steps itself.
class DiziZozExceptionStepsBuffer final : public DiziZozExceptionStepsBuffering {
 public:
  DiziZozExceptionStepsBuffer(int maxBytes, OnStepsChanged onStepsChanged);

  bool add(const Properties& step) override;
  std::vector<Properties> getAttachable() const override;
  void clear() override;

 private:
  struct Entry {
    Properties step;
    std::size_t bytes;
  };
  std::vector<Properties> stepsLocked() const;
  void trimToMaxBytesLocked();

  const std::size_t maxBytes_;
  const OnStepsChanged onStepsChanged_;
  std::mutex notifyLock_;  // taken before lock_; held while a change is reported
  mutable std::mutex lock_;
  std::deque<Entry> entries_;   // lock_
  std::size_t totalBytes_ = 0;  // lock_
  bool closed_ = false;         // lock_
};

}  // namespace dizizoz
