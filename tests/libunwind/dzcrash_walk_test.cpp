// Live walks from signal handlers, compared frame for frame with libunwind's walks from the same
// handlers.

#include <gtest/gtest.h>
#include <sys/auxv.h>
#include <ucontext.h>

#include <csignal>
#include <cstdint>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "tests/libunwind/WalkOracle.h"

using namespace dzcrash;
using namespace dzcrash::test;

namespace {

dzcrash_async_image_list gImages;
PcList gOurs;
PcList gTheirs;

dzcrash_error_t walkOurs(dzcrash_async_thread_state* state, void*) {
  walkWithCursor(&gImages, state, &gOurs);
  return DZCRASH_OK;
}

// Both walks start here, each at its own call; from the caller on (the handler, then the signal frame)
// they must agree. The barrier after the second call keeps it a real call in optimised builds: as a tail
// call, libunwind's walk would start at the handler and lack this frame.
__attribute__((noinline)) void walkBoth() {
  DZcrash_async_thread_state_current(walkOurs, nullptr);
  walkWithLibunwind(&gTheirs);
  __asm__ volatile("" ::: "memory");
}

void onSignal(int, siginfo_t*, void* context) {
  walkBoth();
  // Step over the trapping instruction (ud2) when that is what raised the signal.
  auto* uc = static_cast<ucontext_t*>(context);
  if (uc->uc_mcontext.gregs[REG_RIP] == reinterpret_cast<greg_t>(&dz_trap_at_entry)) {
    uc->uc_mcontext.gregs[REG_RIP] += 2;
  }
}

void raiseUsr1(void*) {
  raise(SIGUSR1);
}

std::vector<uint64_t> tail(const PcList& list, size_t from) {
  return from < list.count ? std::vector<uint64_t>(list.pcs + from, list.pcs + list.count)
                           : std::vector<uint64_t>{};
}

class LibunwindWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
    ASSERT_TRUE(DZcrash_nasync_image_list_init(&gImages, DZcrash_async_task_self(), &parser));
    DZcrash_nasync_image_list_add_loaded(&gImages);
    gOurs = {};
    gTheirs = {};
  }
  void TearDown() override { DZcrash_nasync_image_list_free(&gImages); }

  // Installs the handler for signo and returns the restorer the C library gave it (__restore_rt).
  uint64_t install(int signo) {
    struct sigaction action = {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    EXPECT_EQ(sigaction(signo, &action, &saved_), 0);
    signo_ = signo;
    struct sigaction installed = {};
    sigaction(signo, nullptr, &installed);
    return reinterpret_cast<uint64_t>(installed.sa_restorer);
  }
  void uninstall() { sigaction(signo_, &saved_, nullptr); }

  struct sigaction saved_ = {};
  int signo_ = 0;
};

}  // namespace

TEST_F(LibunwindWalk, FromASignalHandlerThroughTheSignalFrameToStart) {
  const uint64_t restorer = install(SIGUSR1);
  dz_walk_chain(24, raiseUsr1, nullptr);
  uninstall();

  ASSERT_GT(gOurs.count, 30u) << DZframe_strerror(static_cast<dzframe_error_t>(gOurs.end));
  EXPECT_EQ(tail(gOurs, 1), tail(gTheirs, 1));
  EXPECT_EQ(gOurs.end, DZFRAME_NO_FRAME) << "the walk ends where the stack does";
  // The handler returns into the signal frame; the last frame is the program's entry point.
  EXPECT_EQ(gOurs.pcs[2], restorer);
  const uint64_t entry = getauxval(AT_ENTRY);
  EXPECT_GE(gOurs.pcs[gOurs.count - 1], entry);
  EXPECT_LT(gOurs.pcs[gOurs.count - 1], entry + 64);
}

TEST_F(LibunwindWalk, AFrameInterruptedAtItsFirstByteIsUnwoundByItsOwnRules) {
  const uint64_t restorer = install(SIGILL);
  dz_walk_chain(
      3, [](void*) { dz_trap_at_entry(); }, nullptr);
  uninstall();

  ASSERT_GT(gOurs.count, 10u) << DZframe_strerror(static_cast<dzframe_error_t>(gOurs.end));
  EXPECT_EQ(gOurs.pcs[2], restorer);
  EXPECT_EQ(gOurs.pcs[3], reinterpret_cast<uint64_t>(&dz_trap_at_entry)) << "the interrupted frame";
  EXPECT_EQ(tail(gOurs, 1), tail(gTheirs, 1));
}
