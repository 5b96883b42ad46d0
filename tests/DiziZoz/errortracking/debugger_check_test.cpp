#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "DiziZoz/errortracking/DiziZozDebugUtils.h"
#include "tests/DiziZoz/CapturedLog.h"

namespace dizizoz {
namespace {

// The check's answer in a child process, traced by this one or not.
bool answerInChild(bool traced) {
  const pid_t child = fork();
  if (child == 0) {
    if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(3);
    _exit(DiziZozDebugUtils::isDebuggerAttached() ? 1 : 0);
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 3) << "PTRACE_TRACEME failed";
  return WEXITSTATUS(status) == 1;
}

TEST(DebuggerCheck, SeesATracer) {
  EXPECT_TRUE(answerInChild(true));
  EXPECT_FALSE(answerInChild(false));
}

TEST(DebuggerCheck, AnUnreadableProcessLogsAndAnswersFalse) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);

  test::CapturedLog log;
  EXPECT_FALSE(DiziZozDebugUtils::isDebuggerAttached(gone));
  EXPECT_EQ(log.lines, std::vector<std::string>{
                           "[DiziZoz] Failed to check for debugger. sysctl failed with error code: -1"});
}

}  // namespace
}  // namespace dizizoz
