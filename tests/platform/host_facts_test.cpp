#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "platform/linux/LinuxHostFacts.h"
#include "tests/support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using platform::LinuxHostFacts;

void writeFile(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << contents;
}

LinuxHostFacts factsOver(const fs::path& root, std::map<std::string, std::string> environment) {
  return LinuxHostFacts(LinuxHostFacts::Sources{
      .root = root,
      .environment = [environment](const char* name) -> std::optional<std::string> {
        auto it = environment.find(name);
        if (it == environment.end()) return std::nullopt;
        return it->second;
      },
      .machine = {},
  });
}

TEST(LinuxHostFacts, MachineComesFromTheKernel) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(LinuxHostFacts().machine(), names.machine);
}

TEST(LinuxHostFacts, FirmwareNamesAreTrimmedAndLeftOutWhenBlankOrMissing) {
  quorvelle::test::TempDir root;
  const auto facts = factsOver(root.path(), {});
  EXPECT_FALSE(facts.manufacturer());
  EXPECT_FALSE(facts.productName());

  writeFile(root / "sys/class/dmi/id/sys_vendor", "LENOVO  \n");
  writeFile(root / "sys/class/dmi/id/product_name", " \n");
  EXPECT_EQ(facts.manufacturer(), "LENOVO");
  EXPECT_FALSE(facts.productName());
  writeFile(root / "sys/class/dmi/id/product_name", "ThinkPad X1 Carbon\n");
  EXPECT_EQ(facts.productName(), "ThinkPad X1 Carbon");
}

TEST(LinuxHostFacts, LocaleLanguageFollowsTheCLibraryPrecedence) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    std::optional<std::string> language;
  };
  const Case cases[] = {
      {"LANG only", {{"LANG", "de_DE.UTF-8"}}, "de"},
      {"LC_MESSAGES over LANG", {{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_FR"}}, "fr"},
      {"LC_ALL over both", {{"LANG", "de_DE"}, {"LC_MESSAGES", "fr_FR"}, {"LC_ALL", "pt_BR.UTF-8"}}, "pt"},
      {"empty LC_ALL is unset", {{"LC_ALL", ""}, {"LANG", "es_ES@euro"}}, "es"},
      {"language alone", {{"LANG", "ja"}}, "ja"},
      {"modifier", {{"LANG", "sr@latin"}}, "sr"},
      {"C locale", {{"LANG", "C.UTF-8"}}, std::nullopt},
      {"POSIX locale", {{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}, std::nullopt},
      {"nothing set", {}, std::nullopt},
  };
  quorvelle::test::TempDir root;
  for (const auto& c : cases) {
    EXPECT_EQ(factsOver(root.path(), c.environment).localeLanguage(), c.language) << c.name;
  }
}

TEST(LinuxHostFacts, TimeZoneFromTheEnvironmentThenTheSystemFiles) {
  quorvelle::test::TempDir root;
  EXPECT_EQ(factsOver(root.path(), {}).timeZone(), "UTC") << "nothing configured";

  fs::create_directories(root / "etc");
  fs::create_symlink("/usr/share/zoneinfo/posix/America/New_York", root / "etc/localtime");
  EXPECT_EQ(factsOver(root.path(), {}).timeZone(), "America/New_York");
  writeFile(root / "etc/timezone", "Europe/Berlin\n");
  EXPECT_EQ(factsOver(root.path(), {}).timeZone(), "Europe/Berlin");

  EXPECT_EQ(factsOver(root.path(), {{"TZ", "Asia/Tokyo"}}).timeZone(), "Asia/Tokyo");
  EXPECT_EQ(factsOver(root.path(), {{"TZ", ":Asia/Tokyo"}}).timeZone(), "Asia/Tokyo");
  EXPECT_EQ(factsOver(root.path(), {{"TZ", "/usr/share/zoneinfo/Africa/Lagos"}}).timeZone(), "Africa/Lagos");
  EXPECT_EQ(factsOver(root.path(), {{"TZ", ""}}).timeZone(), "Europe/Berlin") << "an empty TZ is unset";
}

}  // namespace
