#pragma once

// The one way tests that drive real processes, windows and servers wait for a state: a request logged, a
// window mapped at a geometry, a widget's text, a file written, a process ended. A test waits for the
// state it is about to check, never for a fixed time, and never counts what may still be on its way.
//
// Test thread only. In a Qt test process the shared test main makes the wait run the event loop between
// looks, so that the test's own windows, selections and child processes answer while it waits.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string_view>

#include "tests/support/deadline/StateDeadline.h"

namespace quorvelle::test {

// Looks at `state` until it holds (success) or `deadline` has passed (a failure naming `what`). It looks
// once more after the deadline, so a state that came during the last pause still counts.
[[nodiscard]] testing::AssertionResult waitUntil(const std::function<bool()>& state, std::string_view what,
                                                 std::chrono::milliseconds deadline = kStateDeadline);

// What waitUntil does between two looks: given the longest pause, it may return sooner. By default it
// sleeps; the Qt test main runs the event loop instead.
using WaitPump = std::function<void(std::chrono::milliseconds)>;
void setWaitPump(WaitPump pump);

}  // namespace quorvelle::test
