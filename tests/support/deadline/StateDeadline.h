#pragma once

#include <chrono>

namespace quorvelle::test {

// How long a test waits for any state it expects (a request, an event, a line of output, a window): far
// above what any state needs on a quiet machine (seconds at most), so that only a state that never comes
// fails, also with every core busy and under a sanitizer. waitUntil() (tests/support/Eventually.h) and
// the waits of the test peers use it.
inline constexpr std::chrono::milliseconds kStateDeadline{60000};

}  // namespace quorvelle::test
