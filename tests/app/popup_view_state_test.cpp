#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/PopupModel.h"
#include "app/PopupViewState.h"

namespace {

using quorvelle::DictionaryEntry;
using quorvelle::PopupMode;
using quorvelle::PopupModel;
using quorvelle::PopupViewState;
using quorvelle::TranslationResult;
using Kind = PopupViewState::QuickResult::Kind;
using Strings = std::vector<std::string>;

const DictionaryEntry kFullEntry{"/ˈhɛl.oʊ/", "Used as a greeting.", "https://audio.example/hello.mp3",
                                 "https://dictionary.example/hello"};

TEST(PopupViewStateTest, WidthFollowsTheMode) {
  PopupModel model;
  for (const auto& [mode, width] : {std::pair{PopupMode::translate, 340}, std::pair{PopupMode::refine, 440},
                                    std::pair{PopupMode::quickTranslate, 380}}) {
    model.reset("x", mode, false);
    const auto state = PopupViewState::of(model);
    EXPECT_EQ(state.width, width);
    EXPECT_EQ(state.selection.has_value(), mode != PopupMode::quickTranslate);
    EXPECT_EQ(state.quickTranslate.has_value(), mode == PopupMode::quickTranslate);
  }
}

TEST(PopupViewStateTest, WordLookupShowsTheHeaderAloneUntilTheEntryArrives) {
  PopupModel model;
  model.reset("Hello", PopupMode::translate, true);
  auto s = *PopupViewState::of(model).selection;
  EXPECT_EQ(s.wordHeader, (PopupViewState::WordHeader{"Hello", std::nullopt, false, std::nullopt}));
  EXPECT_EQ(s.loadingText, "Translating…");
  EXPECT_FALSE(s.translation || s.variants || s.definition || s.error);

  // The translation can show before the loading row goes: the lookup is still running.
  model.setTranslation(TranslationResult{"Привет"});
  s = *PopupViewState::of(model).selection;
  EXPECT_EQ(s.translation, "Привет");
  EXPECT_TRUE(s.translationIsProminent);
  EXPECT_TRUE(s.loadingText);

  model.setEntry(kFullEntry);
  model.setLoading(false);
  s = *PopupViewState::of(model).selection;
  EXPECT_EQ(s.wordHeader,
            (PopupViewState::WordHeader{"Hello", "/ˈhɛl.oʊ/", true, "https://dictionary.example/hello"}));
  EXPECT_EQ(s.definition, "Used as a greeting.");
  EXPECT_FALSE(s.loadingText);
}

struct EntryCase {
  const char* name;
  bool wordMode;
  DictionaryEntry entry;
  std::optional<PopupViewState::WordHeader> header;
  std::optional<std::string> definition;
};

TEST(PopupViewStateTest, HeaderAndDefinitionFollowWhatTheEntryHas) {
  const EntryCase cases[] = {
      {"no page: no link",
       true,
       {"/a/", std::nullopt, "https://a/x.mp3", std::nullopt},
       PopupViewState::WordHeader{"word", "/a/", true, std::nullopt},
       std::nullopt},
      {"empty page: no link",
       true,
       {"/a/", std::nullopt, "https://a/x.mp3", ""},
       PopupViewState::WordHeader{"word", "/a/", true, std::nullopt},
       std::nullopt},
      {"no audio: no play button",
       true,
       {"/a/", "def", std::nullopt, std::nullopt},
       PopupViewState::WordHeader{"word", "/a/", false, std::nullopt},
       "def"},
      {"not word mode: definition without header", false, kFullEntry, std::nullopt, "Used as a greeting."},
  };
  for (const auto& c : cases) {
    PopupModel model;
    model.reset("word", PopupMode::translate, c.wordMode);
    model.setEntry(c.entry);
    const auto s = *PopupViewState::of(model).selection;
    EXPECT_EQ(s.wordHeader, c.header) << c.name;
    EXPECT_EQ(s.definition, c.definition) << c.name;
  }
}

TEST(PopupViewStateTest, DictionaryLinkOpensOnlyWebAddresses) {
  const std::pair<std::string, bool> cases[] = {
      {"https://dictionary.example/dictionary/english/hello", true},
      {"http://dictionary.example/hello?q=1#top", true},
      {"", false},
      {"not a url", false},
      {"https://exa mple.com/x", false},
      {"/dictionary/english/hello", false},
      // Handed to the desktop's URL handler these would open local files or run other programs.
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
      {"ssh://host/", false},
  };
  for (const auto& [url, linkable] : cases) {
    EXPECT_EQ(PopupViewState::linkableUrl(url).has_value(), linkable) << url;
  }
}

TEST(PopupViewStateTest, RefineLoadsThenListsEachVariant) {
  PopupModel model;
  model.reset("draft", PopupMode::refine, false);
  EXPECT_EQ(PopupViewState::of(model).selection->loadingText, "Refining…");
  EXPECT_FALSE(PopupViewState::of(model).selection->variants);

  model.setRefined("  One.\n---\nTwo,\nstill two.\n---\nThree.\n---\n");
  model.setLoading(false);
  const auto s = *PopupViewState::of(model).selection;
  EXPECT_EQ(s.variants, (Strings{"One.", "Two,\nstill two.", "Three."}));
  EXPECT_FALSE(s.loadingText);

  // A blank reply still shows the (empty) section and no error of its own.
  model.setRefined(" \n ");
  EXPECT_EQ(PopupViewState::of(model).selection->variants, Strings{});
}

TEST(PopupViewStateTest, ErrorShowsBesideWhatElseArrived) {
  PopupModel model;
  model.reset("word", PopupMode::translate, true);
  model.setErrorMessage("The request timed out.");
  model.setEntry(kFullEntry);
  model.setLoading(false);
  const auto s = *PopupViewState::of(model).selection;
  EXPECT_EQ(s.error, "The request timed out.");
  EXPECT_TRUE(s.wordHeader->showsPlayButton);
  EXPECT_EQ(s.definition, "Used as a greeting.");
}

PopupModel quickModel() {
  PopupModel model;
  model.reset("", PopupMode::quickTranslate, false);
  model.setLoading(false);
  return model;
}

TEST(PopupViewStateTest, QuickTranslateLabelsAndTargetNames) {
  for (const auto& [target, shown] : {std::pair{"en", "ENGLISH"}, std::pair{"ru", "RUSSIAN"},
                                      std::pair{"de", "ENGLISH"}, std::pair{"", "ENGLISH"}}) {
    PopupModel model = quickModel();
    model.setQuickTarget(target);
    const auto q = *PopupViewState::of(model).quickTranslate;
    EXPECT_EQ(q.targetName, shown) << target;
    EXPECT_EQ(q.sourceLabel, "ANY LANGUAGE");
    EXPECT_EQ(q.inputPlaceholder, "Type to translate…");
  }
}

TEST(PopupViewStateTest, QuickResultPrefersTranslationThenErrorThenPlaceholder) {
  PopupModel model = quickModel();
  model.setSourceText("hola");
  model.setLoading(true);
  auto q = *PopupViewState::of(model).quickTranslate;
  // The placeholder also stands while a request runs; the spinner tells that one is under way.
  EXPECT_EQ(q.result.kind, Kind::placeholder);
  EXPECT_EQ(q.result.text, "Translation appears here");
  EXPECT_TRUE(q.showsSpinner);
  EXPECT_EQ(q.input, "hola");

  model.setErrorMessage("Server error.");
  q = *PopupViewState::of(model).quickTranslate;
  EXPECT_EQ(q.result,
            (PopupViewState::QuickResult{Kind::error, "Server error.", std::nullopt, false, std::nullopt}));

  model.setTranslation(TranslationResult{"hello"});
  model.setEntry(kFullEntry);
  model.setLoading(false);
  q = *PopupViewState::of(model).quickTranslate;
  EXPECT_EQ(q.result, (PopupViewState::QuickResult{Kind::translation, "hello", "/ˈhɛl.oʊ/", true,
                                                   "Used as a greeting."}));
  EXPECT_FALSE(q.showsSpinner);
}

}  // namespace
