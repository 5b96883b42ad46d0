// The hot-key demo's repeat mode on a real X server: holding a shortcut (xdotool) prints ticks at the
// server's auto-repeat rate until the key goes up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"

using namespace std::chrono_literals;
using quorvelle::test::ChildProcess;

namespace {

std::size_t count(const std::string& text, const std::string& word) {
  std::size_t n = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

TEST(HotkeyDemoX11, HoldingAShortcutPrintsTicksUntilItIsReleased) {
  ChildProcess demo({QUORVELLE_BINARY_DIR "/tools/hotkey-demo", "--repeat"});
  // The demo says nothing until its hot key works: tap until a tap is heard.
  bool ready = false;
  for (int attempt = 0; attempt < 20 && !ready; ++attempt) {
    ASSERT_EQ(std::system("xdotool key alt+t"), 0);
    ready = demo.waitForOutput("translate tick", 500ms);
  }
  ASSERT_TRUE(ready) << demo.output();
  demo.waitForOutput("never printed", 300ms);
  const std::size_t before = count(demo.output(), "translate tick");

  // The X server repeats after 660 ms, then every 40 ms: a hold of 1.2 s gives about 15 ticks.
  ASSERT_EQ(std::system("xdotool keydown alt+t"), 0);
  std::this_thread::sleep_for(1200ms);
  ASSERT_EQ(std::system("xdotool keyup t keyup alt"), 0);
  demo.waitForOutput("never printed", 300ms);
  const std::size_t held = count(demo.output(), "translate tick") - before;
  EXPECT_GE(held, 5u) << demo.output();
  EXPECT_LE(held, 30u) << demo.output();

  demo.waitForOutput("never printed", 1s);
  EXPECT_EQ(count(demo.output(), "translate tick") - before, held) << "no tick after the key-up";
  EXPECT_EQ(count(demo.output(), "refine"), 0u);
}

}  // namespace
