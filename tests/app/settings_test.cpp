#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/AppSettings.h"
#include "app/Language.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/MemoryUserDefaults.h"

namespace {

using platform::DefaultsValue;
using platform::fake::FixedSystemInfo;
using platform::fake::MemoryUserDefaults;
using quorvelle::AppSettings;
using quorvelle::Language;

// The prompt of the versions that stored "refinePromptV4": the current one, aimed at Russian speakers.
std::string promptV4() {
  std::string prompt = AppSettings::defaultRefinePrompt();
  const std::string from = "English or your own language";
  prompt.replace(prompt.find(from), from.size(), "English or Russian");
  return prompt;
}

std::size_t codePoints(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

TEST(RefinePrompts, HaveTheirExactShape) {
  const std::string& v5 = AppSettings::defaultRefinePrompt();
  EXPECT_EQ(v5.size(), 1316u);
  EXPECT_EQ(codePoints(v5), 1310u);
  EXPECT_EQ(std::count(v5.begin(), v5.end(), '\n'), 9);
  EXPECT_NE(v5.back(), '\n');
  EXPECT_NE(v5.find("\n2. Separate the variants with a line containing only \"---\".\n"), std::string::npos);
  EXPECT_EQ(v5.find("\r"), std::string::npos);

  const std::string& v3 = AppSettings::defaultRefinePromptV3();
  EXPECT_EQ(v3.size(), 1189u);
  EXPECT_EQ(codePoints(v3), 1185u);
  EXPECT_EQ(std::count(v3.begin(), v3.end(), '\n'), 8);
  EXPECT_NE(v3.find("English or Russian."), std::string::npos);
  EXPECT_NE(v3.find("\n6. Plain text only:"), std::string::npos);
}

struct PromptCase {
  const char* name;
  DefaultsValue::Dictionary stored;
  std::optional<std::string> expectedV5;
};

TEST(PromptMigration, CarriesEditsOverAndUpgradesUneditedDefaults) {
  const PromptCase cases[] = {
      {"fresh install writes nothing", {}, std::nullopt},
      {"unedited v4", {{"refinePromptV4", promptV4()}}, AppSettings::defaultRefinePrompt()},
      {"edited v4", {{"refinePromptV4", "my own prompt"}}, "my own prompt"},
      {"unedited v3",
       {{"refinePromptV3", AppSettings::defaultRefinePromptV3()}},
       AppSettings::defaultRefinePrompt()},
      {"edited v3", {{"refinePromptV3", "v3 edit"}}, "v3 edit"},
      {"v4 wins over v3", {{"refinePromptV4", "from v4"}, {"refinePromptV3", "from v3"}}, "from v4"},
      {"unedited v4 wins over edited v3",
       {{"refinePromptV4", promptV4()}, {"refinePromptV3", "v3 edit"}},
       AppSettings::defaultRefinePrompt()},
      {"v5 present: nothing changes", {{"refinePromptV5", "current"}, {"refinePromptV4", "old"}}, "current"},
      {"the v3 default stored as v4 is an edit",
       {{"refinePromptV4", AppSettings::defaultRefinePromptV3()}},
       AppSettings::defaultRefinePromptV3()},
      {"an empty edited prompt is carried over", {{"refinePromptV4", ""}}, ""},
  };
  for (const auto& c : cases) {
    MemoryUserDefaults defaults(c.stored);
    FixedSystemInfo system;
    AppSettings settings(defaults, system);
    EXPECT_EQ(defaults.stringForKey("refinePromptV5"), c.expectedV5) << c.name;
    EXPECT_EQ(settings.refinePrompt(), c.expectedV5.value_or(AppSettings::defaultRefinePrompt())) << c.name;
    // The legacy keys stay where they were.
    for (const char* key : {"refinePromptV4", "refinePromptV3"}) {
      EXPECT_EQ(defaults.objectForKey(key),
                c.stored.count(key) ? std::optional(c.stored.at(key)) : std::nullopt)
          << c.name;
    }
  }
}

TEST(AppSettingsReads, PronunciationVolumeIsClampedWhenRead) {
  const std::pair<std::optional<DefaultsValue>, double> cases[] = {
      {std::nullopt, 0.5},
      {DefaultsValue(1.7), 1.0},
      {DefaultsValue(-0.2), 0.0},
      {DefaultsValue(0.0), 0.0},
      {DefaultsValue(1.0), 1.0},
      {DefaultsValue(0.25), 0.25},
      {DefaultsValue(2), 1.0},
      {DefaultsValue("0.75"), 0.75},
      {DefaultsValue(std::numeric_limits<double>::quiet_NaN()), 0.5},
      {DefaultsValue(std::numeric_limits<double>::infinity()), 1.0},
  };
  for (const auto& [stored, expected] : cases) {
    MemoryUserDefaults defaults;
    if (stored) defaults.set("pronunciationVolume", *stored);
    FixedSystemInfo system;
    EXPECT_DOUBLE_EQ(AppSettings(defaults, system).pronunciationVolume(), expected);
  }
}

TEST(AppSettingsReads, AutoPlayIsTrueUnlessABoolSaysOtherwise) {
  const std::pair<std::optional<DefaultsValue>, bool> cases[] = {
      {std::nullopt, true},     {DefaultsValue(false), false}, {DefaultsValue(true), true},
      {DefaultsValue(0), true}, {DefaultsValue("NO"), true},
  };
  for (const auto& [stored, expected] : cases) {
    MemoryUserDefaults defaults;
    if (stored) defaults.set("autoPlayPronunciation", *stored);
    FixedSystemInfo system;
    EXPECT_EQ(AppSettings(defaults, system).autoPlayPronunciation(), expected);
  }
}

TEST(AppSettingsReads, DefaultsApplyWhereKeysAreAbsent) {
  MemoryUserDefaults defaults;
  FixedSystemInfo system({"fr-CA"});
  AppSettings settings(defaults, system);
  EXPECT_EQ(settings.targetLanguage(), "fr");
  EXPECT_EQ(settings.accent(), "uk");
  EXPECT_FALSE(settings.hasCompletedOnboarding());
  EXPECT_TRUE(defaults.dictionaryRepresentation().empty()) << "reading must not register defaults";

  defaults.set("targetLanguage", "ja");
  defaults.set("accent", "us");
  defaults.set("hasCompletedOnboarding", true);
  EXPECT_EQ(settings.targetLanguage(), "ja");
  EXPECT_EQ(settings.accent(), "us");
  EXPECT_TRUE(settings.hasCompletedOnboarding());
}

TEST(Language, TableHasTwentyOneRowsWithoutEnglish) {
  const auto& all = Language::all();
  ASSERT_EQ(all.size(), 21u);
  EXPECT_EQ(all.front(), (Language{"ru", "Russian", "🇷🇺"}));
  EXPECT_EQ(all.back(), (Language{"zh-CN", "Chinese (Simplified)", "🇨🇳"}));
  EXPECT_EQ(*Language::find("he"), (Language{"he", "Hebrew", "🇮🇱"}));
  EXPECT_EQ(*Language::find("ar"), (Language{"ar", "Arabic", "🇸🇦"}));
  EXPECT_EQ(Language::find("en"), nullptr);
  for (const auto& language : all) EXPECT_EQ(language.flag.size(), 8u) << language.code;  // two indicators
}

TEST(Language, SystemDefaultTakesTheFirstPreferredLanguageInTheTable) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"en-US", "de-DE"}, "de"},
      {{"zh-Hant-TW"}, "zh-CN"},
      {{"zh"}, "zh-CN"},
      {{"en-GB"}, "ru"},
      {{}, "ru"},
      {{"pt_BR.UTF-8"}, "pt"},
      {{"UK-ua"}, "uk"},
      {{"en", "C", "ja-JP", "ko"}, "ja"},
      {{"zh-CN"}, "zh-CN"},
  };
  for (const auto& [preferred, expected] : cases) {
    EXPECT_EQ(Language::systemDefault(preferred), expected) << ::testing::PrintToString(preferred);
  }
}

TEST(Language, SettingsTakeTheSystemDefaultOnceOnly) {
  class CountingSystemInfo final : public platform::SystemInfo {
   public:
    std::vector<std::string> preferredLanguages() const override {
      ++calls;
      return languages;
    }
    std::vector<std::string> languages{"es-ES"};
    mutable int calls = 0;
  } system;
  MemoryUserDefaults defaults;
  AppSettings settings(defaults, system);
  EXPECT_EQ(settings.targetLanguage(), "es");
  system.languages = {"it-IT"};
  EXPECT_EQ(settings.targetLanguage(), "es");
  EXPECT_EQ(system.calls, 1);
}

}  // namespace
