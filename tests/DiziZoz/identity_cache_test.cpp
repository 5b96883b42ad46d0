#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/HedgeLog.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WithoutReadOverride.h"

// g++ 12 at -O2 reports the std::optional<json> temporaries of this file's tables as maybe-uninitialised
// (a known false positive of its optional/variant analysis); the values are always constructed.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

namespace fs = std::filesystem;
using dizizoz::DiziZozBootstrapConfig;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozStorage;
using dizizoz::DiziZozStorageLocation;
using dizizoz::DiziZozStorageManager;
using dizizoz::Uuid;
using Key = DiziZozStorage::StorageKey;

using dizizoz::test::CapturedLog;

class IdentityCacheTest : public ::testing::Test {
 protected:
  IdentityCacheTest() {
    location.applicationSupport = dir / "com.quorvelle.app";
    location.bundleIdentifier = "com.quorvelle.app";
  }
  std::unique_ptr<DiziZozStorageManager> manager() {
    return std::make_unique<DiziZozStorageManager>(config, location);
  }
  // A second store over the same folder, as the client facade has.
  std::shared_ptr<DiziZozStorage> files() { return DiziZozStorage::open(config, location); }

  quorvelle::test::TempDir dir;
  DiziZozStorageLocation location;
  DiziZozConfig config{"phc_token"};
};

TEST_F(IdentityCacheTest, FreshInstallDerivesEveryIdFromOneAnonymousId) {
  auto ids = manager();
  const std::string anon = ids->getAnonymousId();
  auto parsed = Uuid::fromString(anon);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->version(), 7);
  EXPECT_EQ(parsed->toString(), anon) << "lower case";
  EXPECT_EQ(ids->getDistinctId(), anon);
  EXPECT_EQ(ids->getDeviceId(), anon);
  EXPECT_FALSE(ids->isIdentified());
  EXPECT_FALSE(ids->isPersonProcessing());

  auto store = files();
  EXPECT_EQ(store->getTypedValue<std::string>(Key::anonymousId), anon);
  EXPECT_EQ(store->getTypedValue<std::string>(Key::deviceId), anon);
  EXPECT_FALSE(fs::exists(store->url(Key::distinctId)))
      << "the distinct id follows the anonymous id unstored";
  EXPECT_FALSE(fs::exists(store->url(Key::isIdentified))) << "a computed identified state is not written";

  // The next launch reads the same identity back.
  ids->setDistinctId("user-9");
  auto relaunched = manager();
  EXPECT_EQ(relaunched->getAnonymousId(), anon);
  EXPECT_EQ(relaunched->getDistinctId(), "user-9");
  EXPECT_TRUE(relaunched->isIdentified());
}

// An identity file that cannot be read is never overwritten (the settings store's rule): the run keeps
// its whole identity in memory and writes none of its files, and the next launch that can read the file
// has the stored identity back.
TEST_F(IdentityCacheTest, AnUnreadableIdentityFileIsLeftInPlaceAndTheRunKeepsItsIdentityInMemory) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    std::function<void(const fs::path&, std::uintmax_t size)> heal;
  };
  const Case cases[] = {
      {"no permission", [](const fs::path& path) { fs::permissions(path, fs::perms::none); },
       [](const fs::path& path, std::uintmax_t) {
         fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
       }},
      {"over the size cap",
       [](const fs::path& path) { fs::resize_file(path, DiziZozStorage::maxKeyFileBytes + 1); },
       [](const fs::path& path, std::uintmax_t size) { fs::resize_file(path, size); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    quorvelle::test::TempDir folder;
    location.applicationSupport = folder / "com.quorvelle.app";
    const std::string stored = manager()->getAnonymousId();
    auto store = files();
    const fs::path path = store->url(Key::anonymousId);
    // Trailing blanks keep the JSON as it was when the file is cut back.
    std::ofstream(path, std::ios::app) << " ";
    const std::uintmax_t size = fs::file_size(path);
    std::ifstream before(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(before), std::istreambuf_iterator<char>()};
    fs::remove(store->url(Key::deviceId));
    c.spoil(path);
    {
      const quorvelle::test::WithoutReadOverride unprivileged;
      CapturedLog log;
      auto run = manager();
      const std::string anon = run->getAnonymousId();
      EXPECT_NE(anon, stored);
      EXPECT_TRUE(Uuid::fromString(anon));
      EXPECT_EQ(run->getDeviceId(), anon);
      run->setDistinctId("user-1");
      run->setIdentified(true);
      EXPECT_EQ(run->getDistinctId(), "user-1");
      EXPECT_TRUE(run->isIdentified());
      EXPECT_TRUE(log.mentions("cannot be read: it is left as it is"));
    }
    c.heal(path, size);
    std::ifstream after(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), std::istreambuf_iterator<char>()), bytes);
    for (Key key : {Key::distinctId, Key::deviceId, Key::isIdentified})
      EXPECT_FALSE(fs::exists(store->url(key))) << DiziZozStorage::caseName(key);
    auto next = manager();
    EXPECT_EQ(next->getAnonymousId(), stored);
    EXPECT_FALSE(next->isIdentified());
  }
}

TEST_F(IdentityCacheTest, AnonymousIdHookShapesNewIds) {
  const Uuid fixed = *Uuid::fromString("0190A5D1-AC96-774B-BCCE-B302099A8057");
  config.getAnonymousId = [&](Uuid) { return fixed; };
  EXPECT_EQ(manager()->getAnonymousId(), "0190a5d1-ac96-774b-bcce-b302099a8057");
}

TEST_F(IdentityCacheTest, BootstrapAppliesOnlyToAFreshInstall) {
  struct Case {
    const char* name;
    DiziZozBootstrapConfig bootstrap;
    std::vector<std::pair<Key, dizizoz::Value>> existing;
    std::optional<std::string> anonymous;  // expected anonymous id, nothing = generated
    std::optional<std::string> distinct;   // expected distinct id, nothing = the anonymous id
    bool identified;
  };
  const std::vector<Case> cases{
      {"anonymous", DiziZozBootstrapConfig::anonymous("boot-anon"), {}, "boot-anon", {}, false},
      {"identified", DiziZozBootstrapConfig("boot-user", true), {}, {}, "boot-user", true},
      {"kept untrimmed", DiziZozBootstrapConfig(" boot ", true), {}, {}, " boot ", true},
      {"blank", DiziZozBootstrapConfig(" \n", true), {}, {}, {}, false},
      {"no distinct id", DiziZozBootstrapConfig::flags({{"f", true}}), {}, {}, {}, false},
      {"existing anonymous id",
       DiziZozBootstrapConfig("boot-user", true),
       {{Key::anonymousId, "disk-anon"}},
       "disk-anon",
       {},
       false},
      {"already identified",
       DiziZozBootstrapConfig::anonymous("boot-anon"),
       {{Key::isIdentified, true}},
       {},
       {},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(location.applicationSupport);
    for (const auto& [key, value] : c.existing) files()->setJson(key, value);
    config.bootstrap = c.bootstrap;
    auto ids = manager();
    const std::string anon = ids->getAnonymousId();
    if (c.anonymous) {
      EXPECT_EQ(anon, *c.anonymous);
    } else {
      EXPECT_EQ(Uuid::fromString(anon)->version(), 7);
    }
    EXPECT_EQ(ids->getDistinctId(), c.distinct.value_or(anon));
    EXPECT_EQ(ids->isIdentified(), c.identified);
    // Applied once: the next launch keeps what the first one stored.
    config.bootstrap = DiziZozBootstrapConfig("another", true);
    auto relaunched = manager();
    EXPECT_EQ(relaunched->getAnonymousId(), anon);
    EXPECT_EQ(relaunched->getDistinctId(), c.distinct.value_or(anon));
  }
}

TEST_F(IdentityCacheTest, BlankIdentifiedBootstrapIsReportedWhenDebugging) {
  CapturedLog log;
  config.bootstrap = DiziZozBootstrapConfig("  ", true);
  manager();
  config.bootstrap = DiziZozBootstrapConfig("  ", false);
  manager();
  EXPECT_EQ(log.lines,
            std::vector<std::string>{"[DiziZoz] DiziZozConfig.bootstrap.isIdentifiedId is true but "
                                     "distinctId is nil or blank; the identified bootstrap is ignored."});
}

TEST_F(IdentityCacheTest, ResetForgetsIdentityButNeverTheDeviceId) {
  auto ids = manager();
  const std::string firstAnon = ids->getAnonymousId();
  ids->setDistinctId("user-1");
  ids->setIdentified(true);
  ids->setPersonProcessing(true);
  EXPECT_EQ(ids->getDeviceId(), firstAnon);

  // The facade's own store deletes the files; the cache only forgets.
  ids->reset(true, false);
  EXPECT_EQ(ids->getDistinctId(), "user-1") << "the distinct-id file still holds a value";
  files()->reset(true);
  ids->reset(true, false);
  EXPECT_EQ(ids->getAnonymousId(), firstAnon);
  EXPECT_EQ(ids->getDistinctId(), firstAnon);
  EXPECT_FALSE(ids->isIdentified());
  EXPECT_FALSE(ids->isPersonProcessing());

  ids->setDistinctId("user-2");
  ids->reset(false, true);
  const std::string secondAnon = ids->getAnonymousId();
  EXPECT_NE(secondAnon, firstAnon);
  EXPECT_EQ(ids->getDistinctId(), secondAnon);
  EXPECT_EQ(ids->getDeviceId(), firstAnon);
  EXPECT_EQ(manager()->getDeviceId(), firstAnon) << "and on disk";
  auto store = files();
  EXPECT_FALSE(fs::exists(store->url(Key::distinctId)));
  EXPECT_FALSE(fs::exists(store->url(Key::isIdentified)));
  EXPECT_FALSE(fs::exists(store->url(Key::personProcessingEnabled)));
}

TEST_F(IdentityCacheTest, PersonProcessingIsWrittenOnlyOnChange) {
  auto ids = manager();
  auto store = files();
  ids->setPersonProcessing(true);
  ASSERT_EQ(store->getTypedValue<bool>(Key::personProcessingEnabled), true);
  store->remove(Key::personProcessingEnabled);
  ids->setPersonProcessing(true);
  EXPECT_FALSE(fs::exists(store->url(Key::personProcessingEnabled)));
  ids->setPersonProcessing(false);
  EXPECT_EQ(store->getTypedValue<bool>(Key::personProcessingEnabled), false);

  // setIdentified always writes.
  ids->setIdentified(true);
  store->remove(Key::isIdentified);
  ids->setIdentified(true);
  EXPECT_EQ(store->getTypedValue<bool>(Key::isIdentified), true);
}

TEST_F(IdentityCacheTest, WithoutAUsableTokenTheIdentityLivesInMemory) {
  DiziZozConfig bad("..");
  DiziZozStorageManager ids(bad, location);
  EXPECT_FALSE(ids.storage());
  const std::string anon = ids.getAnonymousId();
  EXPECT_EQ(ids.getDistinctId(), anon);
  EXPECT_EQ(ids.getDeviceId(), anon);
  EXPECT_FALSE(fs::exists(location.applicationSupport));
}

// Every lock path at once, from many threads: the fixed lock order must never deadlock, and all threads
// agree on one anonymous id. The threads run in a child process, so that a deadlock fails the test after
// a bounded wait (the child is killed) instead of hanging it.
TEST_F(IdentityCacheTest, ConcurrentCallersShareOneIdentity) {
  constexpr auto kDeadline = std::chrono::seconds(20);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto ids = manager();
    std::vector<std::thread> threads;
    std::vector<std::string> seen(8);
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 200; ++i) {
          ids->isIdentified();
          ids->getDeviceId();
          ids->getDistinctId();
          if (i % 50 == 0) ids->reset(true, false);
        }
        seen[t] = ids->getAnonymousId();
      });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& id : seen) {
      if (id != seen.front()) _exit(1);
    }
    _exit(0);
  }

  // The child's descriptor becomes readable when it ends.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  ASSERT_GE(pidfd, 0);
  pollfd ended{pidfd, POLLIN, 0};
  const int ready = poll(&ended, 1, static_cast<int>(std::chrono::milliseconds(kDeadline).count()));
  close(pidfd);
  int status = 0;
  if (ready != 1) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the callers did not finish within " << kDeadline.count() << " s: deadlock";
  }
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the callers' process died with signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the threads saw different anonymous ids";
}

}  // namespace
