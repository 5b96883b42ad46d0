#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncFile.h"
#include "tests/support/TestEnvironment.h"

using namespace dzcrash;

namespace {

// Reads everything currently in a non-blocking pipe.
std::string drain(int fd) {
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

struct Pipe {
  Pipe() {
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  ~Pipe() {
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
  int fds[2] = {-1, -1};
};

// Writes to this descriptor accept nothing and report no error, as some drivers and FUSE file systems do.
std::atomic<int> gStuckFd{-1};
std::atomic<int> gStuckWrites{0};
constexpr int kStuckWritesBeforeFailing = 100;

}  // namespace

// Stands in for the C library's write() throughout this test program. After a number of writes that
// accept nothing it fails, so that code which would retry them for ever ends instead of hanging the test.
extern "C" ssize_t write(int fd, const void* data, size_t count) {
  if (fd >= 0 && fd == gStuckFd.load() && count > 0) {
    if (gStuckWrites.fetch_add(1) >= kStuckWritesBeforeFailing) {
      errno = EIO;
      return -1;
    }
    return 0;
  }
  return syscall(SYS_write, fd, data, count);
}

namespace {

std::string pattern(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 23);
  return s;
}

}  // namespace

TEST(AsyncFile, LimitCountsAcceptedBytesAndRefusesWholeWrites) {
  Pipe p;
  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, p.fds[1], 100);
  const std::string fifty = pattern(50, 'a');
  EXPECT_TRUE(DZcrash_async_file_write(&file, fifty.data(), 50));
  EXPECT_TRUE(DZcrash_async_file_write(&file, fifty.data(), 50));
  EXPECT_FALSE(DZcrash_async_file_write(&file, "x", 1));
  EXPECT_FALSE(DZcrash_async_file_write(&file, fifty.data(), SIZE_MAX));
  EXPECT_TRUE(DZcrash_async_file_write(&file, "", 0));
  EXPECT_TRUE(DZcrash_async_file_flush(&file));
  EXPECT_EQ(drain(p.fds[0]), fifty + fifty);

  DZcrash_async_file_init(&file, p.fds[1], 0);
  const std::string big = pattern(5000, 'k');
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(DZcrash_async_file_write(&file, big.data(), big.size()));
  EXPECT_TRUE(DZcrash_async_file_flush(&file));
  EXPECT_EQ(drain(p.fds[0]), big + big + big);
}

TEST(AsyncFile, SmallWritesAreBufferedAndLargeOnesGoStraightThrough) {
  Pipe p;
  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, p.fds[1], 0);

  const std::string full = pattern(256, 'A');
  EXPECT_TRUE(DZcrash_async_file_write(&file, full.data(), full.size()));
  EXPECT_EQ(drain(p.fds[0]), "") << "256 bytes fit the buffer";
  EXPECT_TRUE(DZcrash_async_file_write(&file, "z", 1));
  EXPECT_EQ(drain(p.fds[0]), full) << "the buffer is written out before it would overflow";
  EXPECT_TRUE(DZcrash_async_file_flush(&file));
  EXPECT_EQ(drain(p.fds[0]), "z");

  const std::string ten = pattern(10, '0');
  const std::string large = pattern(300, 'a');
  EXPECT_TRUE(DZcrash_async_file_write(&file, ten.data(), ten.size()));
  EXPECT_TRUE(DZcrash_async_file_write(&file, large.data(), large.size()));
  EXPECT_EQ(drain(p.fds[0]), ten + large) << "buffered bytes first, then the large write, nothing kept";
  EXPECT_EQ(file.buflen, 0u);
}

TEST(AsyncFile, FailedWritesAreReportedAndCloseStillReleasesTheDescriptor) {
  quorvelle::test::TempDir dir;
  const std::string path = (dir / "report").string();
  const int readOnly = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(readOnly, 0);
  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, readOnly, 0);
  EXPECT_TRUE(DZcrash_async_file_write(&file, "abc", 3));
  EXPECT_FALSE(DZcrash_async_file_flush(&file));
  EXPECT_EQ(file.buflen, 3u) << "a failed flush keeps the bytes";
  const std::string large = pattern(400, 'q');
  EXPECT_FALSE(DZcrash_async_file_write(&file, large.data(), large.size()));
  EXPECT_FALSE(DZcrash_async_file_close(&file));
  errno = 0;
  EXPECT_EQ(fcntl(readOnly, F_GETFD), -1) << "the descriptor is closed although the flush failed";
  EXPECT_EQ(errno, EBADF);

  const int writable = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  ASSERT_GE(writable, 0);
  DZcrash_async_file_init(&file, writable, 0);
  EXPECT_TRUE(DZcrash_async_file_write(&file, "dzcrash", 7));
  EXPECT_TRUE(DZcrash_async_file_close(&file));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "dzcrash");
}

TEST(AsyncFile, AWriteThatAcceptsNothingIsAFailureNotARetry) {
  Pipe p;
  gStuckFd = p.fds[1];
  gStuckWrites = 0;
  EXPECT_EQ(DZcrash_async_writen(p.fds[1], "abc", 3), -1);
  EXPECT_EQ(gStuckWrites.load(), 1);

  dzcrash_async_file_t file;
  DZcrash_async_file_init(&file, p.fds[1], 0);
  EXPECT_TRUE(DZcrash_async_file_write(&file, "abc", 3));
  EXPECT_FALSE(DZcrash_async_file_flush(&file));
  EXPECT_EQ(file.buflen, 3u);
  EXPECT_EQ(gStuckWrites.load(), 2);
  gStuckFd = -1;

  EXPECT_TRUE(DZcrash_async_file_flush(&file)) << "writes through once the descriptor takes bytes again";
  EXPECT_EQ(drain(p.fds[0]), "abc");
}

namespace {
std::atomic<int> gInterrupts{0};
void countInterrupt(int) {
  gInterrupts.fetch_add(1);
}

// The scheduler state letter ('S' while blocked in a system call) of one thread of this process.
char threadState(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  const size_t paren = stat.rfind(')');
  return paren == std::string::npos || paren + 2 >= stat.size() ? '?' : stat[paren + 2];
}

void waitUntilBlocked(pid_t tid) {
  while (threadState(tid) != 'S') sched_yield();
}
}  // namespace

TEST(AsyncFile, WritenRetriesAWriteInterruptedByASignal) {
  struct sigaction action = {};
  action.sa_handler = countInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the blocked write fails with EINTR
  struct sigaction previous = {};
  ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);

  Pipe p;
  // Fill the pipe so the next write blocks before writing anything.
  fcntl(p.fds[1], F_SETFL, O_NONBLOCK);
  const std::string filler(65536, 'f');
  size_t filled = 0;
  for (;;) {
    const ssize_t n = write(p.fds[1], filler.data(), filler.size());
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
  }
  fcntl(p.fds[1], F_SETFL, 0);

  const std::string payload = pattern(1000, 'P');
  std::atomic<pid_t> writerTid{0};
  std::atomic<ssize_t> result{0};
  std::thread writer([&] {
    writerTid.store(static_cast<pid_t>(syscall(SYS_gettid)));
    result.store(DZcrash_async_writen(p.fds[1], payload.data(), payload.size()));
  });
  while (writerTid.load() == 0) sched_yield();
  const pid_t tid = writerTid.load();

  waitUntilBlocked(tid);
  ASSERT_EQ(syscall(SYS_tgkill, getpid(), tid, SIGUSR2), 0);
  while (gInterrupts.load() == 0) sched_yield();
  // Blocked again: the interrupted write was retried rather than reported as a failure.
  waitUntilBlocked(tid);

  std::string received;
  while (received.size() < filled + payload.size()) {
    received += drain(p.fds[0]);
    sched_yield();
  }
  writer.join();
  sigaction(SIGUSR2, &previous, nullptr);

  EXPECT_EQ(result.load(), static_cast<ssize_t>(payload.size()));
  EXPECT_EQ(received.substr(filled), payload);
}
