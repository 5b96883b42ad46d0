#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/PopupController.h"
#include "app/PopupModel.h"
#include "tests/support/CaseName.h"

namespace {

using quorvelle::DictionaryEntry;
using quorvelle::PopupController;
using quorvelle::PopupMode;
using quorvelle::PopupModel;
using quorvelle::TranslationResult;

struct WordCase {
  const char* name;
  std::string text;
  std::optional<std::string> word;
};
// What the runner shows as the case's parameter.
void PrintTo(const WordCase& c, std::ostream* os) {
  *os << c.name;
}

class DictionaryWordTest : public testing::TestWithParam<WordCase> {};

TEST_P(DictionaryWordTest, DecidesWhetherTheTextIsOneWord) {
  EXPECT_EQ(PopupController::dictionaryWord(GetParam().text), GetParam().word) << GetParam().name;
}

const std::string k32(32, 'a');

INSTANTIATE_TEST_SUITE_P(
    Cases, DictionaryWordTest,
    testing::Values(
        WordCase{"capitalised with spaces", "  Hello \t", "hello"},
        WordCase{"typographic apostrophe", "Don\u2019t", "don\u2019t"},
        WordCase{"straight apostrophe", "o'clock", "o'clock"},
        WordCase{"hyphenated", "Well-Known", "well-known"}, WordCase{"accented", "Café", "café"},
        WordCase{"decomposed accent is a mark", "Cafe\u0301", "cafe\u0301"},
        WordCase{"Cyrillic", "Привет", "привет"},
        WordCase{"Greek capital sigma lower-cases", "ΣΟΦΙΑ", "σοφια"},
        WordCase{"trailing line break", "word\n", "word"},
        WordCase{"non-breaking spaces around", "\u00A0word\u2029", "word"},
        WordCase{"two words", "hello world", std::nullopt},
        WordCase{"inner tab", "hello\tworld", std::nullopt},
        WordCase{"inner non-breaking space", "hello\u00A0world", std::nullopt},
        WordCase{"exclamation mark", "hello!", std::nullopt}, WordCase{"digit", "abc1", std::nullopt},
        WordCase{"underscore", "snake_case", std::nullopt}, WordCase{"emoji", "hi\U0001F600", std::nullopt},
        WordCase{"empty", "", std::nullopt}, WordCase{"only spaces", "   \n ", std::nullopt},
        WordCase{"32 letters", k32, k32}, WordCase{"33 letters", k32 + "a", std::nullopt},
        // Counted as user-perceived characters: 32 letters each with a combining accent still qualify.
        WordCase{"32 clusters of two scalars",
                 [] {
                   std::string s;
                   for (int i = 0; i < 32; ++i) s += "e\u0301";
                   return s;
                 }(),
                 [] {
                   std::string s;
                   for (int i = 0; i < 32; ++i) s += "e\u0301";
                   return s;
                 }()},
        WordCase{"invalid UTF-8", "ab\xff", std::nullopt}),
    quorvelle::test::NamedCase());

struct VariantCase {
  const char* name;
  std::string reply;
  std::vector<std::string> variants;
};
void PrintTo(const VariantCase& c, std::ostream* os) {
  *os << c.name;
}

class VariantsTest : public testing::TestWithParam<VariantCase> {};

TEST_P(VariantsTest, SplitsTheReply) {
  EXPECT_EQ(PopupModel::variants(GetParam().reply), GetParam().variants) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VariantsTest,
    testing::Values(
        VariantCase{"separator lines", "One.\n---\nTwo.\n---\nThree.", {"One.", "Two.", "Three."}},
        VariantCase{"lines without separator", "First line\nSecond line", {"First line", "Second line"}},
        VariantCase{"blank lines and CRLF dropped", "\nA\r\n\r\nB  \n", {"A", "B"}},
        VariantCase{"Unicode line separator", "A\u2028B", {"A", "B"}},
        VariantCase{"only white space", " \n\t\n ", {}},
        VariantCase{"trailing separator", "One.\n---\nTwo.\n---\n", {"One.", "Two."}},
        VariantCase{
            "two-line variant stays whole", "---\nLine 1\nLine 2\n---\nOther", {"Line 1\nLine 2", "Other"}},
        VariantCase{"separator inside a line", "a---b", {"a", "b"}}),
    quorvelle::test::NamedCase());

TEST(PopupModelTest, ResetStartsAFreshPopupButKeepsQuickTargetAndFocusToken) {
  PopupModel model;
  model.setQuickTarget("ru");
  model.raiseFocusToken();
  model.setErrorMessage("Bad lookup URL");
  model.setNotice("On the clipboard");
  model.setTranslation(TranslationResult{"Hallo"});
  model.setRefined("A\n---\nB");
  DictionaryEntry entry;
  entry.ipa = "/x/";
  model.setEntry(entry);
  model.setLoading(false);

  std::vector<PopupModel::Field> changes;
  const auto id = model.addObserver([&](PopupModel::Field f) { changes.push_back(f); });
  model.reset("word", PopupMode::refine, true);

  EXPECT_EQ(model.sourceText(), "word");
  EXPECT_EQ(model.mode(), PopupMode::refine);
  EXPECT_TRUE(model.isWordMode());
  EXPECT_TRUE(model.isLoading());
  EXPECT_FALSE(model.translation());
  EXPECT_FALSE(model.refined());
  EXPECT_FALSE(model.entry());
  EXPECT_FALSE(model.errorMessage());
  EXPECT_FALSE(model.notice());
  EXPECT_EQ(model.quickTarget(), "ru");
  EXPECT_EQ(model.focusToken(), 1);
  using F = PopupModel::Field;
  EXPECT_EQ(changes, (std::vector<F>{F::sourceText, F::mode, F::isWordMode, F::isLoading, F::translation,
                                     F::refined, F::entry, F::errorMessage, F::notice}));

  model.removeObserver(id);
  model.setLoading(false);
  EXPECT_EQ(changes.size(), 9u);
}

TEST(PopupModelTest, ObserversSeeTheNewValue) {
  PopupModel model;
  std::string seen;
  (void)model.addObserver([&](PopupModel::Field f) {
    if (f == PopupModel::Field::sourceText) seen = model.sourceText();
  });
  model.setSourceText("typed");
  EXPECT_EQ(seen, "typed");
}

}  // namespace
