// The relaunch starts this program's own executable again, in a session of its own, marked with the id
// of the copy it replaces.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/Eventually.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TestEnvironment.h"

namespace {

TEST(SpawnRelauncher, StartsItsOwnExecutableDetachedAndMarkedWithTheCopyItReplaces) {
  const quorvelle::test::TempDir dir;
  const auto out = dir / "second-copy";
  const auto first = quorvelle::test::runProgram({QUORVELLE_BINARY_DIR "/tools/relaunch-probe"}, dir,
                                                 {{"RELAUNCH_PROBE_OUT", out.string()}});
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string firstPid = first.out.substr(0, first.out.find('\n'));
  ASSERT_FALSE(firstPid.empty());

  // The second copy outlives the first; it writes once it runs.
  std::string replaces;
  int ownSession = -1;
  EXPECT_TRUE(quorvelle::test::waitUntil(
      [&] {
        std::ifstream written(out);
        replaces.clear();
        ownSession = -1;
        written >> replaces >> ownSession;
        return !replaces.empty() && ownSession >= 0;
      },
      "the second copy wrote what it replaces"));
  EXPECT_EQ(replaces, firstPid);
  EXPECT_EQ(ownSession, 1);
}

TEST(SpawnRelauncher, SaysSoWhenItsExecutableIsGone) {
  const quorvelle::test::TempDir dir;
  const auto probe = dir / "relaunch-probe";
  std::filesystem::copy_file(QUORVELLE_BINARY_DIR "/tools/relaunch-probe", probe);
  const auto out = dir / "second-copy";
  const auto first = quorvelle::test::runProgram(
      {probe.string()}, dir, {{"RELAUNCH_PROBE_OUT", out.string()}, {"RELAUNCH_PROBE_DELETE_SELF", "1"}});
  EXPECT_EQ(first.status, 1) << first.err;
  EXPECT_NE(first.err.find("SpawnRelauncher: cannot start"), std::string::npos) << first.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
