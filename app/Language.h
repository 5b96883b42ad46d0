#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvelle {

// One target language of translations: code (the id), English name and flag emoji.
struct Language {
  std::string code;
  std::string name;
  std::string flag;

  // The fixed table of the 21 target languages, in display order. English is not among them.
  static const std::vector<Language>& all();
  // The row with exactly this code, or nullptr.
  static const Language* find(std::string_view code);

  // The first of the user's preferred languages (BCP 47 or POSIX identifiers, most preferred first) whose
  // language code is in the table; Chinese of any script or region picks "zh-CN". "ru" when none matches.
  static std::string systemDefault(const std::vector<std::string>& preferredLanguages);

  friend bool operator==(const Language&, const Language&) = default;
};

}  // namespace quorvelle
