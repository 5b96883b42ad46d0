// Writes a crash report of this very process with the crash reporter's live report, while three
// threads wait in functions of their own, then decodes the report and prints it in the classic text
// layout: threads with their frames and symbols, the calling thread's registers, and the loaded images.
// Usage: dzcrash-live-report. Exit status 0 when printed, 1 when the report could not be written or
// decoded. The formatter's diagnostics go to standard error.

#include <poll.h>
#include <unistd.h>

#include <fcntl.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "DZCrashReporter/DZCrashReporter.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "tools/PrintCrashReport.h"

using namespace dzcrash;

// The functions the report names (exported; see tools/CMakeLists.txt). Each waits for a byte on its
// pipe.
extern "C" __attribute__((noinline)) int dz_live_waits_in_read(int fd, std::atomic<int>* running) {
  running->fetch_add(1);
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : -1;
}

extern "C" __attribute__((noinline)) int dz_live_waits_in_poll(int fd, std::atomic<int>* running) {
  running->fetch_add(1);
  pollfd request = {fd, POLLIN, 0};
  int ready = 0;
  do {
    ready = poll(&request, 1, -1);
  } while (ready < 0 && errno == EINTR);
  char c = 0;
  return ready == 1 && read(fd, &c, 1) == 1 ? c : -1;
}

extern "C" __attribute__((noinline)) int dz_live_waits_deeper(int fd, std::atomic<int>* running) {
  const int result = dz_live_waits_in_read(fd, running);
  // Code after the call keeps this frame on the stack: no tail call.
  __asm__ volatile("" ::: "memory");
  return result;
}

int main() {
  tools::logToStandardError();

  DZCrashReporterConfig config;
  config.symbolicationStrategy = DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL;
  const DZCrashReporter reporter("dzcrash-live-report", "1", std::nullopt, config);

  std::atomic<int> running{0};
  const decltype(&dz_live_waits_in_read) functions[] = {dz_live_waits_in_read, dz_live_waits_in_poll,
                                                        dz_live_waits_deeper};
  std::vector<std::thread> threads;
  std::vector<int> pipes;
  for (auto function : functions) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return 1;
    pipes.push_back(fds[1]);
    threads.emplace_back([function, fd = fds[0], &running] {
      function(fd, &running);
      close(fd);
    });
  }
  while (running.load() < static_cast<int>(threads.size())) std::this_thread::yield();

  const auto bytes = reporter.generateLiveReport();
  for (int end : pipes) {
    const char byte = 'x';
    if (write(end, &byte, 1) != 1) std::perror("dzcrash-live-report");
    close(end);
  }
  for (auto& thread : threads) thread.join();
  if (!bytes.ok()) {
    std::fprintf(stderr, "dzcrash-live-report: %s\n", bytes.error().description().c_str());
    return 1;
  }

  return tools::printReportData("dzcrash-live-report", bytes.value());
}
