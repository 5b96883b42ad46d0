#include "app/UnicodeText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using quorvelle::graphemeCount;
using quorvelle::lastGraphemes;
using quorvelle::trimmedWhitespaceAndNewlines;

// The one white-space rule of the application: Unicode separators, the C0 line and tab controls and
// U+0085 go at either end; everything else stays, inner white space included.
TEST(UnicodeText, TrimsUnicodeWhiteSpaceAndLineBreaksAtEitherEnd) {
  struct Case {
    const char* name;
    std::string text;
    std::string trimmed;
  };
  const Case cases[] = {
      {"ASCII blanks, tabs and line breaks", " \t\r\n word \v\f", "word"},
      {"no-break and narrow no-break spaces", "\u00a0word\u202f", "word"},
      {"ogham, en quad to hair space, medium mathematical space", "\u1680\u2000\u200a\u205fword", "word"},
      {"ideographic space", "\u3000word\u3000", "word"},
      {"line and paragraph separators, next line", "\u2028\u0085word\u2029", "word"},
      {"inner white space stays", " two\u00a0words\n", "two\u00a0words"},
      {"zero-width space and byte order mark are not white space", "\u200bword\ufeff", "\u200bword\ufeff"},
      {"only white space", " \u3000\n\u00a0", ""},
      {"empty", "", ""},
      {"invalid UTF-8 reads as U+FFFD", " \xff ", "\ufffd"},
  };
  for (const Case& c : cases) EXPECT_EQ(trimmedWhitespaceAndNewlines(c.text), c.trimmed) << c.name;
}

TEST(UnicodeText, CountsAndKeepsWholeUserPerceivedCharacters) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t count;
    std::string lastTwo;
  };
  const Case cases[] = {
      {"ASCII", "abc", 3, "bc"},
      {"letter with a combining accent", "ae\u0301", 2, "ae\u0301"},
      {"flag of two regional indicators", "x\U0001F1E9\U0001F1EA", 2, "x\U0001F1E9\U0001F1EA"},
      {"emoji with a skin tone", "a\U0001F44D\U0001F3FDb", 3, "\U0001F44D\U0001F3FDb"},
      {"CR LF is one", "a\r\nb", 3, "\r\nb"},
      {"shorter than asked", "z", 1, "z"},
      {"empty", "", 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(graphemeCount(c.text), c.count) << c.name;
    EXPECT_EQ(lastGraphemes(c.text, 2), c.lastTwo) << c.name;
  }
}

}  // namespace
