#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <deque>
#include <set>
#include <thread>
#include <vector>

#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"
#include "platform/Random.h"

namespace {

using namespace std::chrono;
using dizizoz::TimeBasedEpochGenerator;
using dizizoz::Uuid;
using Entropy = std::array<std::uint8_t, 10>;

// Local stand-ins until the shared manual clock and seeded random land in platform/fake.
class TestClock final : public platform::Clock {
 public:
  system_clock::time_point now() const override { return wall; }
  steady_clock::time_point monotonicNow() const override { return {}; }
  system_clock::time_point wall{milliseconds(0x0123456789AB)};
};

// Hands out the given entropy blocks in order, then zeros; counts how often it was asked. While `failing`
// it reports failure after writing zeros, as a source that gave nothing.
class ScriptedRandom final : public platform::Random {
 public:
  bool fill(std::span<std::uint8_t> bytes) override {
    ++fills;
    Entropy next{};
    if (!blocks.empty() && !failing) {
      next = blocks.front();
      blocks.pop_front();
    }
    std::copy_n(next.begin(), std::min(bytes.size(), next.size()), bytes.begin());
    return !failing;
  }
  std::deque<Entropy> blocks;
  int fills = 0;
  bool failing = false;
};

// The 74 entropy bits an id shows, as a number: the high 10 bits and the low 64 bits.
struct Visible {
  std::uint64_t high = 0, low = 0;
  Visible plusOne() const { return low == UINT64_MAX ? Visible{high + 1, 0} : Visible{high, low + 1}; }
  bool operator==(const Visible&) const = default;
};

Visible visibleEntropy(const Uuid& id) {
  // Byte 6 low 4 bits, byte 7, byte 8 low 6 bits: the high 18 bits; bytes 9-15: the low 56 bits.
  std::uint64_t top =
      (std::uint64_t{id.bytes[6] & 0x0Fu} << 14) | (std::uint64_t{id.bytes[7]} << 6) | (id.bytes[8] & 0x3Fu);
  std::uint64_t bottom = 0;
  for (std::size_t i = 9; i < 16; ++i) bottom = (bottom << 8) | id.bytes[i];
  return {top >> 8, (top << 56) | bottom};
}

std::array<std::uint8_t, 6> timestampBytes(const Uuid& id) {
  return {id.bytes[0], id.bytes[1], id.bytes[2], id.bytes[3], id.bytes[4], id.bytes[5]};
}

struct Fixture {
  TestClock clock;
  ScriptedRandom random;
  TimeBasedEpochGenerator generator{clock, random};
};

TEST(TimeBasedEpochGenerator, LaysOutTimestampVersionAndVariantWhateverTheEntropy) {
  struct Case {
    Entropy entropy;
    std::array<std::uint8_t, 10> expectedTail;  // bytes 6-15
  };
  const Case cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x70, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {0x7F, 0xFF, 0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {{0xA5, 0x12, 0xC3, 1, 2, 3, 4, 5, 6, 7}, {0x75, 0x12, 0x83, 1, 2, 3, 4, 5, 6, 7}},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.random.blocks = {c.entropy};
    Uuid id = f.generator.v7();
    EXPECT_EQ(timestampBytes(id), (std::array<std::uint8_t, 6>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}));
    EXPECT_TRUE(std::equal(c.expectedTail.begin(), c.expectedTail.end(), id.bytes.begin() + 6));
    EXPECT_EQ(id.version(), 7);
    EXPECT_EQ(id.bytes[8] & 0xC0, 0x80);
  }
}

TEST(TimeBasedEpochGenerator, CountsUpWithinOneMillisecondAndCarriesAcrossHiddenBits) {
  struct Case {
    const char* name;
    Entropy start;
    std::array<std::uint8_t, 10> secondTail;  // bytes 6-15 of the next id in the same millisecond
  };
  const Case cases[] = {
      {"plain increment", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x41}, {0x70, 0, 0x80, 0, 0, 0, 0, 0, 0, 0x42}},
      {"carry through low bytes", {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, {0x70, 0, 0x80, 0, 0, 0, 0, 1, 0, 0}},
      // Byte 8 shows only 6 entropy bits: the carry must reach byte 7, or the next id would be smaller.
      {"carry past the variant bits",
       {0, 0x10, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {0x70, 0x11, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"carry past the version nibble",
       {0x03, 0xFF, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {0x74, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"all 74 bits set wrap to zero",
       {0x0F, 0xFF, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {0x70, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.random.blocks = {c.start};
    Uuid first = f.generator.v7();
    Uuid second = f.generator.v7();
    EXPECT_EQ(f.random.fills, 1);
    EXPECT_EQ(timestampBytes(first), timestampBytes(second));
    EXPECT_TRUE(std::equal(c.secondTail.begin(), c.secondTail.end(), second.bytes.begin() + 6));
    if (std::string_view(c.name) != "all 74 bits set wrap to zero") {
      EXPECT_LT(first, second);
      EXPECT_EQ(visibleEntropy(second), visibleEntropy(first).plusOne());
    }
  }
}

TEST(TimeBasedEpochGenerator, DrawsFreshEntropyForANewOrEarlierMillisecond) {
  Fixture f;
  f.random.blocks = {Entropy{0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, Entropy{0, 0, 0, 0, 0, 0, 0, 0, 0, 0x50},
                     Entropy{0, 0, 0, 0, 0, 0, 0, 0, 0, 0x60}};
  Uuid first = f.generator.v7();
  f.clock.wall += milliseconds(1);
  Uuid later = f.generator.v7();
  f.clock.wall -= milliseconds(5);  // the wall clock steps back
  Uuid stepped = f.generator.v7();

  EXPECT_EQ(f.random.fills, 3);
  EXPECT_EQ(later.bytes[15], 0x50);
  EXPECT_EQ(later.bytes[5], first.bytes[5] + 1);
  EXPECT_EQ(stepped.bytes[15], 0x60);
  EXPECT_LT(stepped, first);  // ordering follows the clock, not the call order
}

TEST(TimeBasedEpochGenerator, FirstIdDrawsEntropyEvenWhenTheClockReadsTheEpoch) {
  Fixture f;
  f.clock.wall = system_clock::time_point(milliseconds(-2000));  // set before 1970
  f.random.blocks = {Entropy{0, 0, 0, 0, 0, 0, 0, 0, 0, 9}};
  Uuid id = f.generator.v7();
  EXPECT_EQ(f.random.fills, 1);
  EXPECT_EQ(timestampBytes(id), (std::array<std::uint8_t, 6>{}));
  EXPECT_EQ(id.bytes[15], 9);
}

TEST(TimeBasedEpochGenerator, SharedGeneratorHandsOutUniqueOrderedIdsAcrossThreads) {
  constexpr int threads = 4, perThread = 2000;
  std::vector<std::vector<Uuid>> made(threads);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < perThread; ++i)
        made[static_cast<std::size_t>(t)].push_back(TimeBasedEpochGenerator::shared().v7());
    });
  }
  for (auto& w : workers) w.join();
  std::set<Uuid> all;
  for (const auto& ids : made) {
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));  // each thread sees its own ids increase
    all.insert(ids.begin(), ids.end());
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(threads * perThread));
}

// A sandbox that forbids getrandom(2) makes the system's secure source fail: the ids then draw their
// entropy from the general-purpose generator, and the process goes on. Run in a child, whose system calls
// the filter may refuse without touching the test process.
TEST(TimeBasedEpochGenerator, IdsStillComeWhenTheSystemsRandomSourceFails) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_getrandom, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      _exit(10);
    std::array<std::uint8_t, 16> probe{};
    if (platform::SystemRandom::shared().fill(probe)) _exit(11);  // the filter did not bite
    TimeBasedEpochGenerator generator(platform::SystemClock::shared(), platform::SystemRandom::shared());
    std::vector<Visible> entropy;
    for (int i = 0; i < 3; ++i) {
      const Uuid id = generator.v7();
      if (id.version() != 7 || (id.bytes[8] & 0xC0) != 0x80) _exit(12);
      entropy.push_back(visibleEntropy(id));
      std::this_thread::sleep_for(milliseconds(2));  // a new millisecond draws new entropy
    }
    const bool fresh =
        !(entropy[0] == entropy[1]) && !(entropy[1] == entropy[2]) && !(entropy[0] == entropy[2]);
    _exit(fresh ? 0 : 13);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Uuid, TextFormRoundTripsInLowerCase) {
  Uuid id;
  for (std::size_t i = 0; i < 16; ++i) id.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  EXPECT_EQ(id.toString(), "a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf");
  EXPECT_EQ(Uuid::fromString("A0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF"), id);
  for (const char* bad : {"", "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf", "a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeag",
                          "a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf0", "a0a1a2a3_a4a5-a6a7-a8a9-aaabacadaeaf"}) {
    EXPECT_FALSE(Uuid::fromString(bad).has_value()) << bad;
  }
}

}  // namespace
