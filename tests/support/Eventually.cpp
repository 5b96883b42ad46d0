#include "tests/support/Eventually.h"

#include <string>
#include <thread>
#include <utility>

namespace quorvelle::test {
namespace {

// Short enough that a test goes on soon after its state holds, long enough that looking (often a
// round trip to another process) costs little.
constexpr std::chrono::milliseconds kPause{10};

WaitPump& pump() {
  static WaitPump current = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
  return current;
}

}  // namespace

void setWaitPump(WaitPump next) {
  pump() = std::move(next);
}

testing::AssertionResult waitUntil(const std::function<bool()>& state, std::string_view what,
                                   std::chrono::milliseconds deadline) {
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + deadline;
  while (!state()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) {
      if (state()) break;
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
      return testing::AssertionFailure() << std::string(what) << ": not so after " << waited.count() << " ms";
    }
    pump()(std::min(kPause, std::chrono::duration_cast<std::chrono::milliseconds>(end - now)));
  }
  return testing::AssertionSuccess();
}

}  // namespace quorvelle::test
