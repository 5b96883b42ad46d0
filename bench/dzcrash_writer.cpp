// The crash report writer on a process of 20 threads: the benchmarking thread writes a report (with
// symbols) while 19 others wait the ways programs usually do (condition variables, pipes, poll, epoll,
// sleeps). Each iteration holds the other threads, walks every stack, symbolicates every frame and
// encodes the report into an in-memory file. Goal: at most 20 ms a report.

#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/report/DZCrashLogWriter.h"

using namespace dzcrash;

namespace {

constexpr int kOtherThreads = 19;

// Threads that wait until stopped, each in one of several ways.
class WaitingProcess {
 public:
  WaitingProcess() {
    if (pipe(wake_) != 0) std::abort();
    for (int i = 0; i < kOtherThreads; ++i) threads_.emplace_back([this, i] { wait(i % 5); });
    while (running_.load() < kOtherThreads) std::this_thread::yield();
  }
  ~WaitingProcess() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    condition_.notify_all();
    // One byte per pipe reader; poll and epoll see the pipe readable.
    const std::vector<char> bytes(kOtherThreads, 'x');
    if (write(wake_[1], bytes.data(), bytes.size()) < 0) std::abort();
    for (auto& thread : threads_) thread.join();
    close(wake_[0]);
    close(wake_[1]);
  }

 private:
  void wait(int kind) {
    running_.fetch_add(1);
    switch (kind) {
      case 0: {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [this] { return stop_; });
        break;
      }
      case 1: {
        char c;
        while (read(wake_[0], &c, 1) < 0 && errno == EINTR) {
        }
        break;
      }
      case 2: {
        pollfd request = {wake_[0], POLLIN, 0};
        while (poll(&request, 1, -1) < 0 && errno == EINTR) {
        }
        break;
      }
      case 3: {
        const int poller = epoll_create1(EPOLL_CLOEXEC);
        epoll_event interest = {};
        interest.events = EPOLLIN;
        epoll_ctl(poller, EPOLL_CTL_ADD, wake_[0], &interest);
        epoll_event event;
        while (epoll_wait(poller, &event, 1, -1) < 0 && errno == EINTR) {
        }
        close(poller);
        break;
      }
      default: {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
          lock.unlock();
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          lock.lock();
        }
        break;
      }
    }
  }

  int wake_[2];
  std::mutex mutex_;
  std::condition_variable condition_;
  bool stop_ = false;
  std::atomic<int> running_{0};
  std::vector<std::thread> threads_;
};

struct Request {
  dzcrash_log_writer_t* writer;
  dzcrash_async_image_list* images;
  dzcrash_async_file_t* file;
};

dzcrash_error_t writeReport(dzcrash_async_thread_state* state, void* context) {
  auto* request = static_cast<Request*>(context);
  const dzcrash_log_bsd_signal_info_t bsd = {SIGSEGV, SEGV_MAPERR, 0x10};
  const dzcrash_log_signal_info_t siginfo = {&bsd, nullptr};
  return DZcrash_log_writer_write(request->writer, DZ_mach_thread_self(), request->images, request->file,
                                  &siginfo, state);
}

void BM_WriteReportOf20Threads(benchmark::State& state) {
  dzcrash_async_image_list images{};
  const dzcrash_image_parser parser = DZcrash_elf_image_parser();
  DZcrash_nasync_image_list_init(&images, DZcrash_async_task_self(), &parser);
  DZcrash_nasync_image_list_add_loaded(&images);
  dzcrash_log_writer_t writer;
  DZcrash_log_writer_init(&writer, "bench", "1", nullptr, DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL, false);
  const int fd = memfd_create("report", MFD_CLOEXEC);
  {
    WaitingProcess process;
    uint64_t bytes = 0;
    for (auto _ : state) {
      if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) state.SkipWithError("cannot reset the file");
      dzcrash_async_file_t file;
      DZcrash_async_file_init(&file, fd, 0);
      Request request = {&writer, &images, &file};
      DZcrash_async_thread_state_current(writeReport, &request);
      DZcrash_async_file_flush(&file);
      bytes = file.total_bytes;
    }
    state.counters["report_bytes"] = static_cast<double>(bytes);
  }
  close(fd);
  DZcrash_log_writer_free(&writer);
  DZcrash_nasync_image_list_free(&images);
}
BENCHMARK(BM_WriteReportOf20Threads)->Unit(benchmark::kMillisecond);

}  // namespace
