#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvelle {

// Text rules over UTF-8 strings that follow Unicode character properties. Invalid UTF-8 is read as
// U+FFFD. Any thread.

// True for white space and line breaks: Unicode separators (Zs, Zl, Zp), U+0009 to U+000D and U+0085.
bool isWhitespaceOrNewline(char32_t c);
// True for line breaks: U+000A to U+000D, U+0085, U+2028, U+2029.
bool isNewline(char32_t c);
// `text` without white space and line breaks at either end.
std::string trimmedWhitespaceAndNewlines(std::string_view text);

// The number of user-perceived characters (extended grapheme clusters: a letter with its combining
// marks, a flag, an emoji sequence count one each).
std::size_t graphemeCount(std::string_view text);
// The last `count` user-perceived characters of `text`; all of it when it has no more.
std::string lastGraphemes(std::string_view text, std::size_t count);

}  // namespace quorvelle
