#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// Keeps the latest event context and exception steps serialised inside the crash reporter, so that a
// report written at crash time already carries them: the crash handler never serialises anything.
//
// The document handed to `write` is one compact JSON object: every key of the context unchanged plus
// "$exception_steps" (the step list, present also when empty). Every change rewrites it in full. A
// document that cannot be serialised is logged ("Failed to serialize exception steps customData") and
// not written, so the reporter keeps the data written last.
//
// Thread-safe: each update holds the writer's lock across the change and the write, and one lock shared
// by all writers of the process serialises the calls of `write`, so writes never interleave. `write` runs
// on the updating thread and must not call back into the writer. The writer owns its `write` closure
// (which may keep the crash reporter alive).
class DiziZozCrashCustomDataWriter {
 public:
  using Write = std::function<void(std::vector<std::uint8_t> data)>;

  explicit DiziZozCrashCustomDataWriter(Write write);

  // The latest event context ("distinct_id", "event_properties"); replaces the previous one and writes.
  void setContext(Properties context);
  // The latest step list; replaces the previous one and writes.
  void setSteps(std::vector<Properties> steps);

 private:
  // Serialises the document and hands it to `write`; lock_ is held.
  void writeLocked();

  const Write write_;
  std::mutex lock_;
  Properties context_ = Properties::object();  // lock_
  std::vector<Properties> steps_;              // lock_
};

}  // namespace dizizoz
