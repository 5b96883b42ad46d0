// Writes a crash report of this very process with the crash reporter's writer, while three threads wait
// in functions of their own, then decodes the report and prints it in the classic text layout:
// threads with their frames and symbols, the calling thread's registers, and the loaded images.
// Usage: dzcrash-live-report. Exit status 0 when printed, 1 when the report could not be written or
// decoded. The formatter's diagnostics go to standard error.

#include <poll.h>
#include <unistd.h>

#include <fcntl.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "DZCrashReporter/DZCrashReporterLog.h"
#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/report/DZCrashLogWriter.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"

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

namespace {

struct Request {
  dzcrash_log_writer_t* writer;
  dzcrash_async_image_list* images;
  dzcrash_async_file_t* file;
};

dzcrash_error_t writeFromHere(dzcrash_async_thread_state* state, void* context) {
  auto* request = static_cast<Request*>(context);
  // As for a report made on demand: a trace trap at no address.
  const dzcrash_log_bsd_signal_info_t bsd = {SIGTRAP, TRAP_TRACE, 0};
  const dzcrash_log_signal_info_t siginfo = {&bsd, nullptr};
  return DZcrash_log_writer_write(request->writer, DZ_mach_thread_self(), request->images, request->file,
                                  &siginfo, state);
}

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main() {
  DZCrashReporterSetLogSink([](std::string_view line) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  });

  dzcrash_async_image_list images{};
  const dzcrash_image_parser parser = DZcrash_elf_image_parser();
  if (!DZcrash_nasync_image_list_init(&images, DZcrash_async_task_self(), &parser)) return 1;
  DZcrash_nasync_image_list_add_loaded(&images);
  dzcrash_log_writer_t writer;
  if (DZcrash_log_writer_init(&writer, "dzcrash-live-report", "1", nullptr, DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL,
                              true) != DZCRASH_OK) {
    std::fprintf(stderr, "dzcrash-live-report: the writer could not be set up\n");
    return 1;
  }

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

  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/dzcrash-live-XXXXXX";
  const int fd = mkstemp(path.data());
  bool written = false;
  if (fd >= 0) {
    dzcrash_async_file_t file;
    DZcrash_async_file_init(&file, fd, 0);
    Request request = {&writer, &images, &file};
    written = DZcrash_async_thread_state_current(writeFromHere, &request) == DZCRASH_OK;
    written = DZcrash_async_file_close(&file) && written;
  }
  for (int end : pipes) {
    const char byte = 'x';
    if (write(end, &byte, 1) != 1) std::perror("dzcrash-live-report");
    close(end);
  }
  for (auto& thread : threads) thread.join();
  DZcrash_log_writer_free(&writer);
  DZcrash_nasync_image_list_free(&images);
  if (fd < 0 || !written) {
    std::fprintf(stderr, "dzcrash-live-report: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    if (fd >= 0) unlink(path.c_str());
    return 1;
  }

  const std::vector<uint8_t> bytes = readAll(path);
  unlink(path.c_str());
  const auto report = DZCrashReport::fromData(bytes);
  if (!report.ok()) {
    std::fprintf(stderr, "dzcrash-live-report: %s\n", report.error().description().c_str());
    return 1;
  }
  const std::string text =
      DZCrashReportTextFormatter(DZCrashReportTextFormat::classic, DZCrashReportStringEncoding::utf8)
          .formatReport(report.value());
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
