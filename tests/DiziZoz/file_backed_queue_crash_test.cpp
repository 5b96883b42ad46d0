#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "DiziZoz/core/Value.h"
#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"
#include "tests/support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using dizizoz::DiziZozFileBackedQueue;
using dizizoz::Value;

constexpr int kills = 200;
// Records kept from one run to the next, so that every run also checks the order against the runs before.
constexpr std::size_t keptAcrossRuns = 3;

// One record: which run wrote it, its place in that run, and padding whose length it states, so that a
// record cut short cannot pass for a whole one.
// Written out by hand: the child should spend its time writing files, not building JSON.
std::string record(int run, int seq, std::size_t padding) {
  return "{\"run\":" + std::to_string(run) + ",\"seq\":" + std::to_string(seq) +
         ",\"len\":" + std::to_string(padding) + ",\"pad\":\"" + std::string(padding, 'x') + "\"}";
}

// The (run, seq) of a whole record; a failure names what is wrong with it. The record is decoded as JSON
// in two steps (the fields, then the padding checked character by character), which is the same as
// decoding it at once but fast enough for thousands of records of up to 128 KiB.
std::pair<int, int> whole(const std::string& contents) {
  constexpr std::string_view padKey = "\"pad\":\"";
  const std::size_t padStart = contents.find(padKey);
  EXPECT_NE(padStart, std::string::npos) << "no padding: " << contents.substr(0, 80);
  if (padStart == std::string::npos) return {-1, -1};
  const Value fields = Value::parse(contents.substr(0, padStart) + "\"pad\":\"\"}", nullptr, false);
  EXPECT_TRUE(fields.is_object()) << "not a JSON object: " << contents.substr(0, 80);
  if (!fields.is_object()) return {-1, -1};
  const std::size_t padding = fields.value("len", std::size_t{0});
  const std::size_t first = padStart + padKey.size();
  EXPECT_EQ(contents.size(), first + padding + 2) << "cut short or too long";
  EXPECT_EQ(contents.find_first_not_of('x', first), first + padding);
  EXPECT_TRUE(contents.ends_with("\"}"));
  return {fields.value("run", -1), fields.value("seq", -1)};
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string contents(fs::file_size(path), '\0');
  in.read(contents.data(), static_cast<std::streamsize>(contents.size()));
  return contents;
}

// Adds records until it is killed; never returns.
[[noreturn]] void writeUntilKilled(const fs::path& folder, int run, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> padding(0, 128 * 1024);
  DiziZozFileBackedQueue queue(folder, {});
  for (int seq = 0;; ++seq) queue.add(record(run, seq, padding(random)));
}

// Waits until the wall clock's millisecond has moved on, so that record names (time-ordered ids) of the
// next run sort after every name of the run just ended, as they do across real restarts.
void letTheMillisecondPass() {
  using namespace std::chrono;
  const auto ended = floor<milliseconds>(system_clock::now());
  while (floor<milliseconds>(system_clock::now()) <= ended) {
  }
}

// A child process adds records in a loop and is killed with SIGKILL at a random moment, 200 times over one
// folder. After every kill each record file is whole, and a new store removes what an interrupted write
// left, lists every record and lists them in the order they were made, across runs too.
TEST(FileBackedQueueCrashTest, RecordsKilledAtRandomMomentsStayWholeAndInOrder) {
  quorvelle::test::TempDir dir;
  const fs::path folder = dir / "dizizoz.queueFolder.uuid";
  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> killAfterMicroseconds(0, 4000);
  int leftoversSeen = 0;
  std::size_t recordsSeen = 0;

  for (int run = 0; run < kills; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::uint32_t childSeed = static_cast<std::uint32_t>(random());
    const long delay = killAfterMicroseconds(random);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) writeUntilKilled(folder, run, childSeed);
    const timespec pause{0, delay * 1000};
    ::nanosleep(&pause, nullptr);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    letTheMillisecondPass();
    if (!fs::exists(folder)) continue;  // killed before the store made its folder

    std::size_t records = 0;
    bool leftover = false;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (DiziZozFileBackedQueue::isTemporaryName(name)) {
        leftover = true;
        continue;
      }
      ++records;
      whole(readFile(entry.path()));
    }
    leftoversSeen += leftover ? 1 : 0;

    DiziZozFileBackedQueue fresh(folder, {});
    for (const auto& entry : fs::directory_iterator(folder)) {
      EXPECT_FALSE(DiziZozFileBackedQueue::isTemporaryName(entry.path().filename().string()))
          << "a leftover of an interrupted write survived the start";
    }
    ASSERT_EQ(fresh.depth(), records);
    std::pair<int, int> previous{-1, -1};
    for (const auto& contents : fresh.peek(records)) {
      const auto current = whole(contents);
      EXPECT_LT(previous, current) << "listed out of creation order";
      previous = current;
    }
    recordsSeen += records;
    if (records > keptAcrossRuns) fresh.pop(records - keptAcrossRuns);
    if (HasFailure()) return;
  }
  RecordProperty("interruptedWrites", leftoversSeen);
  RecordProperty("recordsChecked", static_cast<int>(recordsSeen));
}

}  // namespace
