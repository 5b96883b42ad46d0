#pragma once

// The real-time signal the crash reporter sends to every other thread of the process to record its
// registers while a report is written. A thread that blocks it is missing from every report (only its
// number is written), so threads that block asynchronous signals must leave this one open. Header-only,
// so that the crash reporter can see it without linking the platform layer.

#include <csignal>

namespace platform {

// A function rather than a constant: the C library numbers the real-time signals at run time.
// Async-signal-safe.
inline int threadCaptureSignal() {
  return SIGRTMAX - 3;
}

}  // namespace platform
