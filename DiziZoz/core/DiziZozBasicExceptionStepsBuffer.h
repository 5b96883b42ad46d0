#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

#include "DiziZoz/core/DiziZozExceptionStepsBuffering.h"

namespace dizizoz {

// The exception-steps buffer of the default services: the most recent steps, oldest first, whose compact
// JSON forms add up to at most `maxBytes` (0 for a negative budget).
//
// add() sanitises the step (sanitizeDictionary) and refuses it unless it is an object with a non-empty
// "$message" text that on its own fits the budget; otherwise it appends it, drops the oldest steps until
// the total fits and reports the new list. clear() empties the buffer for good: later adds are refused.
//
// Thread-safe. Change reports run on the changing thread with no buffer state locked, one at a time and in
// the order of the changes, so a subscriber may read getAttachable() and always sees the latest list last; it
// must not add or clear steps itself.
class DiziZozBasicExceptionStepsBuffer final : public DiziZozExceptionStepsBuffering {
 public:
  DiziZozBasicExceptionStepsBuffer(int maxBytes, OnStepsChanged onStepsChanged);

  bool add(const Properties& step) override;
  std::vector<Properties> getAttachable() const override;
  void clear() override;

 private:
  struct Entry {
    Properties step;
    std::size_t bytes;
  };
  std::vector<Properties> stepsLocked() const;

  const std::size_t maxBytes_;
  const OnStepsChanged onStepsChanged_;
  std::mutex notifyLock_;  // taken before lock_, held while reporting
  mutable std::mutex lock_;
  std::deque<Entry> entries_;   // lock_
  std::size_t totalBytes_ = 0;  // lock_
  bool closed_ = false;         // lock_
};

}  // namespace dizizoz
