// The hot-key demo's repeat mode on a real X server: holding a shortcut (xdotool) prints ticks at the
// server's auto-repeat rate until the key goes up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"

using namespace std::chrono_literals;
using quorvelle::test::ChildProcess;
using quorvelle::test::kStateDeadline;

namespace {

// The X server's auto-repeat: the first repeat after 660 ms, then one every 40 ms.
constexpr auto kRepeatDelay = 660ms;
constexpr auto kRepeatInterval = 40ms;
// How long the key is held.
constexpr auto kHold = 1200ms;

std::size_t count(const std::string& text, const std::string& word, std::size_t from = 0) {
  std::size_t n = 0;
  for (auto at = text.find(word, from); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

void run(const char* command) {
  ASSERT_EQ(std::system(command), 0) << command;
}

TEST(HotkeyDemoX11, HoldingAShortcutPrintsTicksUntilItIsReleased) {
  ChildProcess demo({QUORVELLE_BINARY_DIR "/tools/hotkey-demo", "--repeat"});
  ASSERT_TRUE(demo.waitForOutput("hotkey-demo: listening", kStateDeadline)) << demo.output();
  ASSERT_NO_FATAL_FAILURE(run("xdotool key alt+t"));
  ASSERT_TRUE(demo.waitForOutput("translate tick", kStateDeadline)) << demo.output();

  const auto pressing = std::chrono::steady_clock::now();
  ASSERT_NO_FATAL_FAILURE(run("xdotool keydown alt+t"));
  std::this_thread::sleep_for(kHold);
  ASSERT_NO_FATAL_FAILURE(run("xdotool keyup t keyup alt"));
  const auto released = std::chrono::steady_clock::now();
  // The other shortcut, pressed after the release, is heard after it: once its tick is out, so is every
  // tick of the hold.
  ASSERT_NO_FATAL_FAILURE(run("xdotool key alt+r"));
  ASSERT_TRUE(demo.waitForOutput("refine tick", kStateDeadline)) << demo.output();
  const std::size_t afterRelease = demo.output().find("refine tick");
  const std::size_t held = count(demo.output(), "translate tick") - 1;

  // One tick at the press, then the repeats of the time the key was down: at least one (a loaded machine
  // may run the timer late), at most as many as the longest the hold can have lasted.
  const auto longest = std::chrono::duration_cast<std::chrono::milliseconds>(released - pressing);
  EXPECT_GE(held, 2u) << demo.output();
  EXPECT_LE(held, 2 + static_cast<std::size_t>((longest - kRepeatDelay) / kRepeatInterval)) << demo.output();

  // Nothing ticks once the key is up: a second refine tap, well over a repeat interval later, comes with no
  // translate tick between.
  ASSERT_NO_FATAL_FAILURE(run("xdotool key alt+r"));
  ASSERT_TRUE(demo.waitForOutput("refine tick", kStateDeadline, afterRelease + 1)) << demo.output();
  EXPECT_EQ(count(demo.output(), "translate tick", afterRelease), 0u) << "a tick after the key-up";
  EXPECT_EQ(count(demo.output(), "refine tick"), 2u) << demo.output();
}

}  // namespace
