#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/FileUserDefaults.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WithoutReadOverride.h"

namespace fs = std::filesystem;
using platform::DefaultsValue;
using platform::FileUserDefaults;
using platform::UserDefaults;
using platform::fake::MemoryUserDefaults;
using quorvelle::test::WithoutReadOverride;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> namesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct CapturedLog {
  std::vector<std::string> warnings;
  platform::LogSink previous;
  CapturedLog() {
    previous = platform::setLogSink([this](platform::LogLevel level, std::string_view text) {
      if (level >= platform::LogLevel::warning) warnings.emplace_back(text);
    });
  }
  ~CapturedLog() { platform::setLogSink(previous); }
};

// A settings value nested `levels` arrays deep, as the file stores it.
std::string nestedSettingsFile(int levels) {
  std::string text = R"({"a":)";
  for (int i = 0; i < levels; ++i) text += R"({"array":[)";
  text += R"({"int":1})";
  for (int i = 0; i < levels; ++i) text += "]}";
  return text + "}";
}

}  // namespace

TEST(UserDefaults, TypedReadsConvertLikeTheSystemStore) {
  struct Case {
    const char* label;
    DefaultsValue stored;
    std::optional<std::string> string;
    bool boolean;
    std::int64_t integer;
    double dbl;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"bool false", false, "0", false, 0, 0.0},
      {"bool true", true, "1", true, 1, 1.0},
      {"integer", std::int64_t{-7}, "-7", true, -7, -7.0},
      {"integer zero", 0, "0", false, 0, 0.0},
      {"double truncates toward zero", 2.9, "2.9", true, 2, 2.9},
      {"negative double", -2.9, "-2.9", true, -2, -2.9},
      {"double fraction is true", 0.5, "0.5", true, 0, 0.5},
      {"huge double saturates", 1e300, "1e+300", true, std::numeric_limits<std::int64_t>::max(), 1e300},
      {"NaN reads as integer 0", nan, "nan", true, 0, nan},
      {"string YES", "YES", "YES", true, 0, 0.0},
      {"string true any case", "True", "True", true, 0, 0.0},
      {"string NO", "NO", "NO", false, 0, 0.0},
      {"string false is not Bool false", "false", "false", false, 0, 0.0},
      {"numeric string", " 42 ", " 42 ", true, 42, 42.0},
      {"decimal string", "0.35", "0.35", true, 0, 0.35},
      {"string with trailing text", "42a", "42a", false, 0, 0.0},
      {"empty string", "", "", false, 0, 0.0},
      {"data", DefaultsValue::Data{'4', '2'}, std::nullopt, false, 0, 0.0},
      {"array", DefaultsValue::Array{1, 2}, std::nullopt, false, 0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    MemoryUserDefaults defaults;
    defaults.set("k", c.stored);
    EXPECT_EQ(defaults.stringForKey("k"), c.string);
    EXPECT_EQ(defaults.boolForKey("k"), c.boolean);
    EXPECT_EQ(defaults.integerForKey("k"), c.integer);
    if (std::isnan(c.dbl)) {
      EXPECT_TRUE(std::isnan(defaults.doubleForKey("k")));
    } else {
      EXPECT_DOUBLE_EQ(defaults.doubleForKey("k"), c.dbl);
    }
  }
}

TEST(UserDefaults, AbsentKeysAreToldApartFromStoredDefaults) {
  MemoryUserDefaults defaults;
  EXPECT_FALSE(defaults.objectForKey("hasCompletedOnboarding").has_value());
  EXPECT_FALSE(defaults.boolForKey("hasCompletedOnboarding"));
  EXPECT_EQ(defaults.integerForKey("hotkeyModifiers"), 0);
  EXPECT_EQ(defaults.stringForKey("targetLanguage"), std::nullopt);
  EXPECT_EQ(defaults.dataForKey("d"), std::nullopt);

  defaults.set("hasCompletedOnboarding", false);
  ASSERT_TRUE(defaults.objectForKey("hasCompletedOnboarding").has_value());
  EXPECT_TRUE(defaults.objectForKey("hasCompletedOnboarding")->is<bool>());
  defaults.set("s", DefaultsValue::Dictionary{{"a", 1}});
  EXPECT_EQ(defaults.arrayForKey("s"), std::nullopt);
  EXPECT_EQ(defaults.dictionaryForKey("s")->at("a"), DefaultsValue(1));
  defaults.remove("hasCompletedOnboarding");
  EXPECT_FALSE(defaults.objectForKey("hasCompletedOnboarding").has_value());
}

TEST(FileUserDefaults, EveryTypeSurvivesAProcessRestartExactly) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "quorvelle" / "settings.json";
  const DefaultsValue::Data bytes{0x00, 0xff, '"', '\n', 0x7f};
  const DefaultsValue::Dictionary written = {
      {"GlobalShortcuts_translate", false},
      {"GlobalShortcuts_refine", R"({"carbonKeyCode":15,"carbonModifiers":2048})"},
      {"looksFalse", "false"},
      {"autoPlayPronunciation", true},
      {"hotkeyKeyCode", 17},
      {"bigInteger", std::numeric_limits<std::int64_t>::min()},
      {"wholeDouble", 1.0},
      {"pronunciationVolume", 0.1},
      {"infinite", std::numeric_limits<double>::infinity()},
      {"bytes", bytes},
      {"emptyBytes", DefaultsValue::Data{}},
      {"text", "ünïcode \"quoted\" \\ 🇺🇦"},
      {"list", DefaultsValue::Array{1, "1", 1.0, true, DefaultsValue::Array{}}},
      {"nested", DefaultsValue::Dictionary{{"inner", DefaultsValue::Dictionary{{"x", bytes}}}}},
  };
  {
    FileUserDefaults defaults(file);  // the folder does not exist yet
    for (const auto& [key, value] : written) defaults.set(key, value);
    defaults.set("nan", std::numeric_limits<double>::quiet_NaN());
    defaults.set("removed", 1);
    defaults.remove("removed");
  }
  EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string>{"settings.json"})
      << "no temporary file left";

  FileUserDefaults restarted(file);
  auto read = restarted.dictionaryRepresentation();
  ASSERT_TRUE(read.count("nan"));
  EXPECT_TRUE(std::isnan(*read.at("nan").get<double>()));
  read.erase("nan");
  EXPECT_EQ(read, written);
  EXPECT_TRUE(restarted.objectForKey("GlobalShortcuts_translate")->is<bool>());
  EXPECT_TRUE(restarted.objectForKey("looksFalse")->is<std::string>());
  EXPECT_TRUE(restarted.objectForKey("wholeDouble")->is<double>());
  EXPECT_TRUE(restarted.objectForKey("hotkeyKeyCode")->is<std::int64_t>());
  EXPECT_FALSE(restarted.objectForKey("removed").has_value());
}

// JSON text cannot carry bytes that are not UTF-8. Such a string (in a value or a key) must neither
// throw out of set() nor stop every later change from reaching the disk.
TEST(FileUserDefaults, AStringThatIsNotUtf8DoesNotStopLaterChangesFromBeingSaved) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  const std::string notUtf8 = "caf\xe9";
  {
    FileUserDefaults defaults(file);
    EXPECT_NO_THROW(defaults.set("pasted", notUtf8));
    EXPECT_EQ(defaults.stringForKey("pasted"), notUtf8) << "kept exactly while running";
    EXPECT_NO_THROW(defaults.set(notUtf8, 1));
    EXPECT_NO_THROW(defaults.set("hasCompletedOnboarding", true));
  }
  FileUserDefaults restarted(file);
  EXPECT_TRUE(restarted.boolForKey("hasCompletedOnboarding"));
  ASSERT_TRUE(restarted.stringForKey("pasted").has_value());
  EXPECT_EQ(restarted.stringForKey("pasted")->substr(0, 3), "caf");
}

TEST(FileUserDefaults, UnusableFileIsMovedAsideWithAWarningAndReadingStartsEmpty) {
  struct Case {
    const char* label;
    std::string content;
  };
  const std::vector<Case> cases = {
      {"truncated JSON", R"({"a":{"bool":tr)"},
      {"empty file", ""},
      {"not an object", "[1,2]"},
      {"untyped value", R"({"a":{"bool":true},"b":5})"},
      {"unknown type", R"({"a":{"date":"2024"}})"},
      {"bad base64", R"({"a":{"data":"!!!!"}})"},
      {"integer out of range", R"({"a":{"int":18446744073709551615}})"},
      {"binary garbage", std::string("\xff\xfe\x00{", 4)},
      // About 1.2 MB; reading it must not overflow the stack (at every start, were it left in place).
      {"nested 100,000 levels deep", nestedSettingsFile(100'000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    quorvelle::test::TempDir dir;
    const auto file = dir / "settings.json";
    writeFile(file, c.content);
    CapturedLog log;

    FileUserDefaults defaults(file);
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    ASSERT_EQ(log.warnings.size(), 1u);
    EXPECT_NE(log.warnings[0].find("settings.json.corrupt-"), std::string::npos) << log.warnings[0];

    auto names = namesIn(dir.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("settings.json.corrupt-", 0), 0u) << names[0];
    EXPECT_EQ(readFile(dir / names[0]), c.content) << "the bad file is kept byte for byte";

    defaults.set("hasCompletedOnboarding", true);  // a fresh file beside the kept one
    defaults.flush();
    EXPECT_TRUE(FileUserDefaults(file).boolForKey("hasCompletedOnboarding"));
    EXPECT_EQ(readFile(dir / names[0]), c.content);
  }
}

TEST(FileUserDefaults, ValuesNestedAsDeeplyAsTheProgramCouldNeedStillLoad) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  writeFile(file, nestedSettingsFile(200));
  FileUserDefaults defaults(file);
  auto current = defaults.objectForKey("a");
  ASSERT_TRUE(current.has_value());
  int levels = 0;
  while (const auto* array = current->get<DefaultsValue::Array>()) {
    ASSERT_EQ(array->size(), 1u);
    current = DefaultsValue(array->front());  // a copy, made before the array it comes from goes
    ++levels;
  }
  EXPECT_EQ(levels, 200);
  EXPECT_EQ(*current, DefaultsValue(1));
}

// Only content that fails to parse is corrupt. A good file that cannot be read now keeps its place and
// its bytes; the program runs on defaults in memory and says so once.
TEST(FileUserDefaults, AFileThatCannotBeReadIsLeftAloneAndNeverOverwritten) {
  const std::string content = R"({"hasCompletedOnboarding":{"bool":true},"accent":{"string":"us"}})";
  struct Case {
    const char* label;
    std::function<void(const fs::path& file)> makeUnreadable;
    std::function<void(const fs::path& file)> makeReadable;  // nothing: check the link instead
  };
  const Case cases[] = {
      {"no read permission",
       [&](const fs::path& file) {
         writeFile(file, content);
         fs::permissions(file, fs::perms::none);
       },
       [](const fs::path& file) { fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write); }},
      // Reading this file at offset 0 fails with EIO.
      {"input/output error", [](const fs::path& file) { fs::create_symlink("/proc/self/mem", file); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    quorvelle::test::TempDir dir;
    const auto file = dir / "settings.json";
    c.makeUnreadable(file);
    CapturedLog log;
    {
      WithoutReadOverride unprivileged;
      FileUserDefaults defaults(file);
      EXPECT_FALSE(defaults.boolForKey("hasCompletedOnboarding"));
      defaults.set("accent", "uk");
      defaults.set("targetLanguage", "de");
      EXPECT_EQ(defaults.stringForKey("accent"), "uk") << "changes work in memory";
    }
    EXPECT_EQ(log.warnings.size(), 1u) << "said once";
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"settings.json"}) << "nothing moved or added";
    if (c.makeReadable) {
      c.makeReadable(file);
      EXPECT_EQ(readFile(file), content);
      FileUserDefaults later(file);
      EXPECT_TRUE(later.boolForKey("hasCompletedOnboarding"));
      EXPECT_EQ(later.stringForKey("accent"), "us");
    } else {
      EXPECT_EQ(fs::read_symlink(file), "/proc/self/mem");
    }
  }
}

// A save killed between creating its temporary file and renaming it leaves the temporary behind.
TEST(FileUserDefaults, StartRemovesOnlyItsOwnTemporariesOlderThanTheProcess) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  writeFile(file, R"({"accent":{"string":"us"}})");
  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
  struct Entry {
    const char* name;
    bool old;
    bool kept;
  };
  const Entry entries[] = {
      {".settings.json.a1B2c3", true, false}, {".settings.json.ZZZZZZ", true, false},
      {".settings.json.x9Y8z7", false, true},  // newer than this process: perhaps another one's save
      {".settings.json.abc", true, true},     {".settings.json.abcdefg", true, true},
      {".settings.json.ab-def", true, true},  {".other.json.a1B2c3", true, true},
      {"settings.json.a1B2c3", true, true},   {"settings.json.corrupt-20240101T000000Z", true, true},
  };
  for (const auto& entry : entries) {
    writeFile(dir / entry.name, "{");
    if (entry.old) fs::last_write_time(dir / entry.name, longAgo);
  }
  fs::create_directory(dir / ".settings.json.dir000");
  fs::last_write_time(dir / ".settings.json.dir000", longAgo);

  FileUserDefaults defaults(file);
  EXPECT_EQ(defaults.stringForKey("accent"), "us");
  for (const auto& entry : entries) {
    EXPECT_EQ(fs::exists(dir / entry.name), entry.kept) << entry.name;
  }
  EXPECT_TRUE(fs::exists(dir / ".settings.json.dir000")) << "only files are removed";
}

TEST(FileUserDefaults, ADirectoryInThePlaceOfTheFileIsMovedAsideToo) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  fs::create_directories(file / "inside");
  CapturedLog log;
  FileUserDefaults defaults(file);
  EXPECT_EQ(log.warnings.size(), 1u);
  defaults.set("a", 1);
  defaults.flush();
  EXPECT_EQ(FileUserDefaults(file).integerForKey("a"), 1);
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);
}

TEST(FileUserDefaults, ASettingsFileThatIsALinkStaysALink) {
  quorvelle::test::TempDir dir;
  fs::create_directories(dir / "dotfiles");
  fs::create_directories(dir / "config");
  writeFile(dir / "dotfiles" / "settings.json", R"({"accent":{"string":"us"}})");
  fs::create_symlink(dir / "dotfiles" / "settings.json", dir / "config" / "settings.json");

  FileUserDefaults defaults(dir / "config" / "settings.json");
  EXPECT_EQ(defaults.stringForKey("accent"), "us");
  defaults.set("accent", "uk");
  defaults.flush();
  EXPECT_TRUE(fs::is_symlink(dir / "config" / "settings.json"));
  EXPECT_EQ(FileUserDefaults(dir / "dotfiles" / "settings.json").stringForKey("accent"), "uk");
}

TEST(FileUserDefaults, DefaultFileIsUnderTheUsersConfigFolder) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  ASSERT_NE(config, nullptr);  // set by the test main
  EXPECT_EQ(FileUserDefaults::defaultFile(), fs::path(config) / "quorvelle" / "settings.json");
}

namespace {

// A store whose writes wait on a queue the test drives, counting the writes that reached the file.
struct QueuedStore {
  explicit QueuedStore(const fs::path& file) : defaults(std::make_unique<FileUserDefaults>(file, &writer)) {
    defaults->setWriteObserver([this] { ++writes; });
  }
  platform::fake::ManualSerialQueue writer;
  int writes = 0;
  std::unique_ptr<FileUserDefaults> defaults;
};

}  // namespace

// A keystroke in the settings window stores five settings: readers see each at once, and the file is
// written once for all of them, by the writer, after the delay.
TEST(FileUserDefaults, ABurstOfChangesIsReadAtOnceAndWrittenOnceLater) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  QueuedStore store(file);
  auto& defaults = *store.defaults;
  defaults.set("targetLanguage", "de");
  defaults.set("accent", "us");
  defaults.set("autoPlayPronunciation", false);
  defaults.set("pronunciationVolume", 0.25);
  defaults.set("refinePromptV5", "Fix it.");
  defaults.remove("neverStored");
  EXPECT_EQ(defaults.stringForKey("accent"), "us");
  EXPECT_EQ(defaults.doubleForKey("pronunciationVolume"), 0.25);
  EXPECT_FALSE(fs::exists(file)) << "nothing written by the caller";

  store.writer.advance(FileUserDefaults::kCoalesceDelay - std::chrono::milliseconds(1));
  EXPECT_EQ(store.writes, 0);
  store.writer.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(store.writes, 1);
  EXPECT_EQ(FileUserDefaults(file).dictionaryRepresentation(), defaults.dictionaryRepresentation());

  // Changes after the write take a write of their own; a removal of nothing takes none.
  defaults.set("accent", "uk");
  defaults.remove("neverStored");
  store.writer.advance(FileUserDefaults::kCoalesceDelay * 10);
  EXPECT_EQ(store.writes, 2);
  EXPECT_EQ(FileUserDefaults(file).stringForKey("accent"), "uk");
  store.writer.advance(FileUserDefaults::kCoalesceDelay * 10);
  EXPECT_EQ(store.writes, 2) << "nothing new, nothing written";
}

TEST(FileUserDefaults, SynchronizeWritesWithoutTheDelayAndFlushAndTheEndLoseNothing) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  QueuedStore store(file);
  store.defaults->set("accent", "us");
  store.defaults->synchronize();
  EXPECT_EQ(store.writes, 0) << "synchronize does not wait";
  store.writer.drain();
  EXPECT_EQ(store.writes, 1);

  store.defaults->set("accent", "uk");
  store.defaults->flush();
  EXPECT_EQ(store.writes, 2);
  EXPECT_EQ(FileUserDefaults(file).stringForKey("accent"), "uk");
  store.defaults->flush();
  EXPECT_EQ(store.writes, 2) << "nothing waiting, nothing written";

  // The end of the store (at quit, also one a quit signal caused) writes what is still waiting.
  store.defaults->set("targetLanguage", "fr");
  store.defaults.reset();
  EXPECT_EQ(store.writes, 3);
  EXPECT_EQ(FileUserDefaults(file).stringForKey("targetLanguage"), "fr");
  // The delayed write still queued finds nothing to do.
  store.writer.advance(FileUserDefaults::kCoalesceDelay * 10);
  EXPECT_EQ(store.writes, 3);
}

TEST(FileUserDefaults, ItsOwnWriterWritesOnAThreadOfItsOwn) {
  quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  std::mutex mutex;
  std::vector<std::thread::id> writers;
  {
    FileUserDefaults defaults(file);
    defaults.setWriteObserver([&] {
      std::lock_guard lock(mutex);
      writers.push_back(std::this_thread::get_id());
    });
    for (int i = 0; i < 100; ++i)
      defaults.set("refinePromptV5", std::string(static_cast<std::size_t>(i), 'x'));
    defaults.flush();
    EXPECT_EQ(FileUserDefaults(file).stringForKey("refinePromptV5"), std::string(99, 'x'));
  }
  std::lock_guard lock(mutex);
  ASSERT_FALSE(writers.empty());
  for (const auto& id : writers) EXPECT_NE(id, std::this_thread::get_id());
}
