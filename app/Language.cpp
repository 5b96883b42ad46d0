#include "app/Language.h"

#include <algorithm>

namespace quorvelle {
namespace {

constexpr std::string_view kFallbackLanguage = "ru";

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The language subtag of a locale identifier ("de" of "de-DE", "zh" of "zh-Hant-TW", "pt" of
// "pt_BR.UTF-8"), lower-cased; empty when the identifier does not start with one.
std::string languageCode(std::string_view identifier) {
  const auto end = identifier.find_first_of("-_.@");
  const std::string_view subtag = identifier.substr(0, end);
  if (subtag.size() < 2 || subtag.size() > 8 || !std::all_of(subtag.begin(), subtag.end(), isAsciiLetter)) {
    return {};
  }
  std::string code(subtag);
  for (char& c : code) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return code;
}

}  // namespace

const std::vector<Language>& Language::all() {
  static const std::vector<Language> kAll = {
      {"ru", "Russian", "🇷🇺"},    {"uk", "Ukrainian", "🇺🇦"},  {"es", "Spanish", "🇪🇸"},
      {"fr", "French", "🇫🇷"},     {"de", "German", "🇩🇪"},     {"it", "Italian", "🇮🇹"},
      {"pt", "Portuguese", "🇵🇹"}, {"pl", "Polish", "🇵🇱"},     {"tr", "Turkish", "🇹🇷"},
      {"nl", "Dutch", "🇳🇱"},      {"sv", "Swedish", "🇸🇪"},    {"cs", "Czech", "🇨🇿"},
      {"el", "Greek", "🇬🇷"},      {"he", "Hebrew", "🇮🇱"},     {"ar", "Arabic", "🇸🇦"},
      {"hi", "Hindi", "🇮🇳"},      {"vi", "Vietnamese", "🇻🇳"}, {"id", "Indonesian", "🇮🇩"},
      {"ja", "Japanese", "🇯🇵"},   {"ko", "Korean", "🇰🇷"},     {"zh-CN", "Chinese (Simplified)", "🇨🇳"},
  };
  return kAll;
}

const Language* Language::find(std::string_view code) {
  for (const auto& language : all()) {
    if (language.code == code) return &language;
  }
  return nullptr;
}

std::string Language::systemDefault(const std::vector<std::string>& preferredLanguages) {
  for (const auto& identifier : preferredLanguages) {
    std::string code = languageCode(identifier);
    if (code.empty()) code = identifier;
    if (code == "zh") return "zh-CN";
    if (find(code) != nullptr) return code;
  }
  return std::string(kFallbackLanguage);
}

}  // namespace quorvelle
