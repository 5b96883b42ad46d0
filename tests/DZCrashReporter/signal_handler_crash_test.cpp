#include <gtest/gtest.h>

#include <sys/auxv.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "DZCrashReporter/capture/DZCrashSignalHandler.h"
#include "tests/DZCrashReporter/ChildFinish.h"

using namespace dzcrash;
using namespace dzcrash::test;

// Every test runs in a child process (a death test): the registry is the process's, and its handlers
// stay installed.

namespace {

void install(int signo, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, nullptr);
}

// What the previous SA_SIGINFO handler was given.
int gPreviousCalls = 0;
int gPreviousSigno = 0;
siginfo_t gPreviousInfo;
void* gPreviousUap = nullptr;

void previousSiginfoHandler(int signo, siginfo_t* info, void* uap) {
  ++gPreviousCalls;
  gPreviousSigno = signo;
  gPreviousInfo = *info;
  gPreviousUap = uap;
}

std::string order;

bool older(int, siginfo_t*, ucontext_t*, void*, dzcrash_signal_handler_callback*) {
  order += "older ";
  return true;
}

bool newer(int signo, siginfo_t* info, ucontext_t* uap, void*, dzcrash_signal_handler_callback* next) {
  order += "newer ";
  return DZCrashSignalHandlerForward(next, signo, info, uap);
}

bool declines(int, siginfo_t*, ucontext_t*, void*, dzcrash_signal_handler_callback*) {
  return false;
}

void faultAt0x10() {
  // Through a volatile variable, so that the compiler cannot see the address.
  volatile uintptr_t address = 0x10;
  *reinterpret_cast<volatile int*>(address) = 1;
}

std::string twiceRegisteredSigsegv() {
  struct sigaction previous = {};
  previous.sa_sigaction = previousSiginfoHandler;
  previous.sa_flags = SA_SIGINFO;
  sigemptyset(&previous.sa_mask);
  sigaction(SIGSEGV, &previous, nullptr);

  DZCrashSignalHandler* registry = DZCrashSignalHandler::sharedHandler();
  if (registry == nullptr) return "no registry";
  if (registry->registerHandlerWithSignal(SIGSEGV) || registry->registerHandlerWithSignal(SIGSEGV)) {
    return "registration failed";
  }
  struct sigaction installed = {};
  sigaction(SIGSEGV, nullptr, &installed);
  if (installed.sa_sigaction != DZcrash_signal_handler) return "our handler is not installed";
  if ((installed.sa_flags & (SA_SIGINFO | SA_ONSTACK)) != (SA_SIGINFO | SA_ONSTACK)) return "wrong flags";

  // Two previous-action entries, one recorded action: the previous handler runs once, with the
  // arguments the signal came with. Had the second registration recorded our own handler as the
  // previous one, the chain would call itself until the stack ran out.
  sigval value;
  value.sival_int = 4321;
  sigqueue(getpid(), SIGSEGV, value);
  if (gPreviousCalls != 1) return "previous handler ran " + std::to_string(gPreviousCalls) + " times";
  if (gPreviousSigno != SIGSEGV || gPreviousInfo.si_signo != SIGSEGV || gPreviousInfo.si_code != SI_QUEUE ||
      gPreviousInfo.si_value.sival_int != 4321 || gPreviousInfo.si_pid != getpid()) {
    return "previous handler got other arguments";
  }
  if (gPreviousUap == nullptr) return "previous handler got no context";
  return {};
}

std::string alternateStackOfTheRegisteringThreadOnly() {
  DZCrashSignalHandler* registry = DZCrashSignalHandler::sharedHandler();
  if (registry->registerHandlerWithSignal(SIGBUS)) return "registration failed";
  stack_t stack = {};
  sigaltstack(nullptr, &stack);
  const size_t minimum = 64 * 1024 + getauxval(AT_MINSIGSTKSZ);
  if ((stack.ss_flags & SS_DISABLE) != 0 || stack.ss_size < minimum ||
      stack.ss_size != registry->alternateStackSize()) {
    return "the registering thread has no alternate stack of " + std::to_string(minimum) + " bytes";
  }
  std::string failure;
  std::thread([&] {
    // A thread may have an alternate stack of its own already (AddressSanitizer gives every thread one):
    // registering from it leaves that as it was, and never hands it the registering thread's.
    stack_t before = {};
    sigaltstack(nullptr, &before);
    if (registry->registerHandlerWithSignal(SIGILL)) failure = "registration failed on the other thread";
    stack_t other = {};
    sigaltstack(nullptr, &other);
    const bool enabled = (other.ss_flags & SS_DISABLE) == 0;
    if (enabled && other.ss_sp == stack.ss_sp) {
      failure = "another thread was given the same alternate stack";
    } else if (enabled != ((before.ss_flags & SS_DISABLE) == 0) || (enabled && other.ss_sp != before.ss_sp)) {
      failure = "registering changed another thread's alternate stack";
    }
  }).join();
  return failure;
}

}  // namespace

TEST(SignalHandlerCrash, SigsegvRegisteredTwiceRunsThePreviousSiginfoHandlerOnceWithItsArguments) {
  EXPECT_EXIT(finish(twiceRegisteredSigsegv()), testing::ExitedWithCode(0), "");
}

TEST(SignalHandlerCrash, AlternateStackIsTheRegisteringThreadsAndLargeEnough) {
  EXPECT_EXIT(finish(alternateStackOfTheRegisteringThreadOnly()), testing::ExitedWithCode(0), "");
}

TEST(SignalHandlerCrash, PreviousIgnoreHandlesASentSignal) {
  EXPECT_EXIT(
      {
        install(SIGSEGV, SIG_IGN);
        DZCrashSignalHandler::sharedHandler()->registerHandlerWithSignal(SIGSEGV);
        raise(SIGSEGV);
        finish({});
      },
      testing::ExitedWithCode(0), "");
}

// A thread cannot ignore its own fault: taken as handled, the instruction would fault again forever.
TEST(SignalHandlerCrash, PreviousIgnoreDoesNotSwallowAFault) {
  EXPECT_EXIT(
      {
        install(SIGSEGV, SIG_IGN);
        DZCrashSignalHandler::sharedHandler()->registerHandlerWithSignal(SIGSEGV);
        faultAt0x10();
        finish("the fault returned");
      },
      testing::KilledBySignal(SIGSEGV), "");
}

TEST(SignalHandlerCrash, UnhandledSignalTakesItsDefaultAction) {
  // The previous action is the default one: nothing in the chain handles the signal, which is raised
  // again with the default action rather than with our handler, which would only meet it again.
  EXPECT_EXIT(
      {
        DZCrashSignalHandler::sharedHandler()->registerHandlerForSignal(SIGUSR1, declines, nullptr);
        raise(SIGUSR1);
        finish("survived");
      },
      testing::KilledBySignal(SIGUSR1), "");
}

TEST(SignalHandlerCrash, CallbacksRunNewestFirstAndForwardDownTheChain) {
  EXPECT_EXIT(
      {
        DZCrashSignalHandler* registry = DZCrashSignalHandler::sharedHandler();
        registry->registerHandlerForSignal(SIGUSR2, older, nullptr);
        registry->registerHandlerForSignal(SIGUSR2, newer, nullptr);
        raise(SIGUSR2);
        finish(order == "newer older " ? "" : "order: " + order);
      },
      testing::ExitedWithCode(0), "");
}

TEST(SignalHandlerCrash, ResetEmptiesTheChainAndLeavesTheHandlerInstalled) {
  EXPECT_EXIT(
      {
        install(SIGUSR2, SIG_IGN);
        DZCrashSignalHandler* registry = DZCrashSignalHandler::sharedHandler();
        registry->registerHandlerForSignal(SIGUSR2, older, nullptr);
        DZCrashSignalHandler::resetHandlers();
        struct sigaction installed = {};
        sigaction(SIGUSR2, nullptr, &installed);
        if (installed.sa_sigaction != DZcrash_signal_handler) finish("handler removed");
        // Neither the callback nor the recorded SIG_IGN is left to handle it.
        raise(SIGUSR2);
        finish("survived");
      },
      testing::KilledBySignal(SIGUSR2), "");
}
