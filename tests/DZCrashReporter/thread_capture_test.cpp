#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "DZCrashReporter/capture/DZCrashThreadCapture.h"
#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/unwind/DZCrashAsyncThreadState.h"
#include "DZCrashReporter/unwind/DZCrashFrameWalker.h"
#include "platform/ThreadCaptureSignal.h"
#include "tests/DZCrashReporter/WaitingThreads.h"
#include "tests/support/Eventually.h"

using namespace dzcrash;
using dzcrash::test::processThreads;
using dzcrash::test::WaitingThreads;

namespace {

int readOneByte(int fd, std::atomic<int>* running) {
  running->fetch_add(1);
  char c = 0;
  const ssize_t n = read(fd, &c, 1);
  return n == 1 ? c : -errno;
}

// Blocks the capture signal, waits, then opens it again: a capture signal still pending from a capture
// that gave up on this thread arrives then, and must let the thread run on.
int readOneByteWithCaptureBlocked(int fd, std::atomic<int>* running) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, platform::threadCaptureSignal());
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  const int result = readOneByte(fd, running);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  return result;
}

// Whether a thread comes to wait in system call `number` (from /proc). A parked thread passes through
// user space between its handler's last calls, so it may take a moment.
testing::AssertionResult settlesInSyscall(pid_t tid, long number) {
  return quorvelle::test::waitUntil(
      [&] {
        std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
        std::string first;
        in >> first;
        return first != "running" && !first.empty() && std::stol(first) == number;
      },
      "the thread waits in system call " + std::to_string(number));
}

size_t indexOf(const dzcrash_thread_capture* capture, pid_t tid) {
  for (size_t i = 0; i < capture->count; ++i) {
    if (capture->slots[i].tid == tid) return i;
  }
  ADD_FAILURE() << "thread " << tid << " not listed";
  return 0;
}

class ThreadCapture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DZcrash_nasync_thread_capture_install()); }
};

}  // namespace

TEST_F(ThreadCapture, ParksEveryOtherThreadUntilTheCaptureEnds) {
  WaitingThreads threads({readOneByte, readOneByte, readOneByte});
  const std::vector<pid_t> listed = processThreads();

  dzcrash_thread_capture* capture = DZcrash_async_thread_capture_begin(DZCRASH_THREAD_CAPTURE_TIMEOUT_NS);
  ASSERT_NE(capture, nullptr);
  ASSERT_EQ(capture->count, listed.size());
  const pid_t self = DZ_mach_thread_self();
  EXPECT_EQ(DZcrash_async_thread_capture_state(capture, indexOf(capture, self)),
            DZCRASH_THREAD_CAPTURE_CALLER);
  EXPECT_EQ(DZcrash_async_thread_capture_context(self), nullptr);
  dzcrash_async_thread_state state;
  EXPECT_EQ(DZcrash_async_thread_state_mach_thread_init(&state, self), DZCRASH_INTERNAL);

  for (size_t i = 0; i < 3; ++i) {
    const pid_t tid = threads.tid(i);
    EXPECT_EQ(DZcrash_async_thread_capture_state(capture, indexOf(capture, tid)),
              DZCRASH_THREAD_CAPTURE_PARKED);
    // Parked in the handler's futex wait, not in the read it was interrupted in.
    EXPECT_TRUE(settlesInSyscall(tid, SYS_futex)) << tid;
    const mcontext_t* context = DZcrash_async_thread_capture_context(tid);
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(DZcrash_async_thread_state_mach_thread_init(&state, tid), DZCRASH_OK);
    EXPECT_EQ(DZcrash_async_thread_state_get_reg(&state, DZCRASH_REG_SP),
              static_cast<uint64_t>(context->gregs[REG_RSP]));
    dzframe_cursor cursor;
    ASSERT_EQ(DZframe_cursor_thread_init(&cursor, DZcrash_async_task_self(), tid, nullptr), DZFRAME_OK);
    EXPECT_EQ(DZframe_cursor_next(&cursor), DZFRAME_OK);
    uint64_t ip = 0;
    EXPECT_EQ(DZframe_cursor_get_reg(&cursor, DZCRASH_REG_IP, &ip), DZFRAME_OK);
    EXPECT_EQ(ip, static_cast<uint64_t>(context->gregs[REG_RIP]));
    DZframe_cursor_free(&cursor);
  }
  DZcrash_async_thread_capture_end(capture);

  EXPECT_EQ(DZcrash_async_thread_capture_context(threads.tid(0)), nullptr);
  dzframe_cursor cursor;
  EXPECT_EQ(DZframe_cursor_thread_init(&cursor, DZcrash_async_task_self(), threads.tid(0), nullptr),
            DZFRAME_INTERNAL_ERROR);
  // The reads the signal interrupted resumed and got their byte.
  EXPECT_EQ(threads.releaseAll('k'), (std::vector<int>{'k', 'k', 'k'}));
}

TEST_F(ThreadCapture, GivesUpOnAThreadThatBlocksTheSignalWithinTheBound) {
  WaitingThreads threads({readOneByte, readOneByteWithCaptureBlocked});

  const auto start = std::chrono::steady_clock::now();
  dzcrash_thread_capture* capture = DZcrash_async_thread_capture_begin(DZCRASH_THREAD_CAPTURE_TIMEOUT_NS);
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(DZcrash_async_thread_capture_state(capture, indexOf(capture, threads.tid(0))),
            DZCRASH_THREAD_CAPTURE_PARKED);
  EXPECT_EQ(DZcrash_async_thread_capture_state(capture, indexOf(capture, threads.tid(1))),
            DZCRASH_THREAD_CAPTURE_ABANDONED);
  EXPECT_EQ(DZcrash_async_thread_capture_context(threads.tid(1)), nullptr);
  // It waited for the silent thread, but not for long (a loose bound: this is no timing test).
  EXPECT_GE(waited, std::chrono::nanoseconds(DZCRASH_THREAD_CAPTURE_TIMEOUT_NS));
  EXPECT_LT(waited, std::chrono::seconds(5));
  DZcrash_async_thread_capture_end(capture);

  // Both threads run on: the blocked one meets its stale signal when it opens the mask.
  EXPECT_EQ(threads.releaseAll('k'), (std::vector<int>{'k', 'k'}));
}

TEST_F(ThreadCapture, RunsOneCaptureAtATime) {
  WaitingThreads threads({readOneByte});
  dzcrash_thread_capture* first = DZcrash_async_thread_capture_begin(DZCRASH_THREAD_CAPTURE_TIMEOUT_NS);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(DZcrash_async_thread_capture_begin(DZCRASH_THREAD_CAPTURE_TIMEOUT_NS), nullptr);
  DZcrash_async_thread_capture_end(first);

  // The next capture parks the same thread again.
  dzcrash_thread_capture* second = DZcrash_async_thread_capture_begin(DZCRASH_THREAD_CAPTURE_TIMEOUT_NS);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(DZcrash_async_thread_capture_state(second, indexOf(second, threads.tid(0))),
            DZCRASH_THREAD_CAPTURE_PARKED);
  DZcrash_async_thread_capture_end(second);
  EXPECT_EQ(threads.releaseAll('k'), std::vector<int>{'k'});
}

TEST_F(ThreadCapture, IgnoresTheSignalFromAnotherSender) {
  // A plain tgkill carries no capture slot: the thread neither parks nor dies.
  WaitingThreads threads({readOneByte});
  ASSERT_EQ(syscall(SYS_tgkill, getpid(), threads.tid(0), platform::threadCaptureSignal()), 0);
  EXPECT_EQ(threads.releaseAll('k'), std::vector<int>{'k'});
}
