#pragma once

#include <pthread.h>
#include <signal.h>

// SIGINT and SIGTERM, blocked from construction on so that wait() receives them. Construct it in main()
// before any thread starts: threads inherit the mask, so the signal reaches only wait().
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  }

  // Returns when Ctrl+C or a termination request arrives.
  void wait() const {
    int received = 0;
    sigwait(&signals_, &received);
  }

 private:
  sigset_t signals_;
};
