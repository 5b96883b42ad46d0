#pragma once

#include <functional>
#include <vector>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// What the client needs of the exception-steps buffer: a byte-bounded list of step maps (each with a
// non-empty "$message") attached to exception events. The services build one per client with the byte
// budget and a change callback, which receives the whole current list after every change. Thread-safe;
// the callback runs on the thread that changed the buffer.
class DiziZozExceptionStepsBuffering {
 public:
  using OnStepsChanged = std::function<void(const std::vector<Properties>& steps)>;

  virtual ~DiziZozExceptionStepsBuffering() = default;

  // Validates and appends one step, trimming the oldest to stay within the budget; false when refused.
  virtual bool add(const Properties& step) = 0;
  // The steps to attach to an exception event, oldest first (possibly none).
  virtual std::vector<Properties> getAttachable() const = 0;
  virtual void clear() = 0;
};

}  // namespace dizizoz
