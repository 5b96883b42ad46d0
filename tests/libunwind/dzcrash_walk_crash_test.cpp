// A real SIGSEGV in a child process: the walk from the signal's machine context, compared frame for
// frame with libunwind's walk from the same handler.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "tests/libunwind/WalkOracle.h"

using namespace dzcrash;
using namespace dzcrash::test;

namespace {

// The reporter's alternate signal stack size.
constexpr size_t kSignalStack = 64 * 1024;

dzcrash_async_image_list gImages;
int gPipe = -1;

struct Result {
  PcList ours;
  PcList theirs;
};
Result gResult;

void writeAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n <= 0) _exit(3);
    p += n;
    size -= static_cast<size_t>(n);
  }
}

void onSegv(int, siginfo_t*, void* context) {
  const auto* uc = static_cast<const ucontext_t*>(context);
  dzcrash_async_thread_state state;
  DZcrash_async_thread_state_mcontext_init(&state, &uc->uc_mcontext);
  walkWithCursor(&gImages, &state, &gResult.ours);
  walkWithLibunwind(&gResult.theirs);
  writeAll(gPipe, &gResult, sizeof(gResult));
  _exit(0);
}

void fault(void*) {
  volatile uintptr_t address = 8;
  *reinterpret_cast<volatile int*>(address) = 1;
}

std::vector<uint64_t> tail(const PcList& list, size_t from) {
  return from < list.count ? std::vector<uint64_t>(list.pcs + from, list.pcs + list.count)
                           : std::vector<uint64_t>{};
}

}  // namespace

TEST(LibunwindWalkCrash, FromARealSegfaultsMachineContext) {
  const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&gImages, DZcrash_async_task_self(), &parser));
  DZcrash_nasync_image_list_add_loaded(&gImages);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    gPipe = fds[1];
    static uint8_t stack[kSignalStack];
    stack_t alt = {};
    alt.ss_sp = stack;
    alt.ss_size = sizeof(stack);
    sigaltstack(&alt, nullptr);
    struct sigaction action = {};
    action.sa_sigaction = onSegv;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, nullptr);
    dz_walk_chain(30, fault, nullptr);
    _exit(2);
  }
  close(fds[1]);
  Result result = {};
  size_t got = 0;
  while (got < sizeof(result)) {
    const ssize_t n = read(fds[0], reinterpret_cast<uint8_t*>(&result) + got, sizeof(result) - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  DZcrash_nasync_image_list_free(&gImages);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_EQ(got, sizeof(result));

  // libunwind starts in the handler and passes the signal frame; ours starts at the faulting frame.
  ASSERT_GT(result.ours.count, 30u) << DZframe_strerror(static_cast<dzframe_error_t>(result.ours.end));
  ASSERT_GT(result.theirs.count, 2u);
  EXPECT_EQ(result.theirs.pcs[2], result.ours.pcs[0]) << "the faulting instruction";
  EXPECT_EQ(tail(result.ours, 0), tail(result.theirs, 2));
  EXPECT_EQ(result.ours.end, DZFRAME_NO_FRAME);
}
