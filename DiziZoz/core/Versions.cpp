#include "DiziZoz/core/Versions.h"

#include <sys/utsname.h>

#include <charconv>
#include <fstream>

namespace dizizoz {

std::optional<std::string> appVersionString(const Value& infoDictionary) {
  if (!infoDictionary.is_object()) return std::nullopt;
  auto entry = infoDictionary.find("CFBundleShortVersionString");
  if (entry == infoDictionary.end() || !entry->is_string()) return std::nullopt;
  return entry->get<std::string>();
}

Value parseBundleVersion(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  // from_chars takes a leading "-" itself but no "+"; "+-1" must stay text.
  if (!digits.empty() && !(text.front() == '+' && digits.front() == '-')) {
    std::int64_t number = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc() && end == digits.data() + digits.size()) return number;
  }
  return std::string(text);
}

std::string normalizedVersion(std::string_view text) {
  unsigned parts[3] = {0, 0, 0};
  std::size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    auto [end, error] = std::from_chars(text.data() + pos, text.data() + text.size(), parts[i]);
    if (error != std::errc()) {
      parts[i] = 0;
      break;
    }
    pos = static_cast<std::size_t>(end - text.data());
    if (pos >= text.size() || text[pos] != '.') break;
    ++pos;
  }
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

std::string osVersionString() {
  std::ifstream osRelease("/etc/os-release");
  std::string line;
  while (std::getline(osRelease, line)) {
    if (!line.starts_with("VERSION_ID=")) continue;
    std::string_view value = std::string_view(line).substr(11);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    if (!value.empty()) return normalizedVersion(value);
  }
  utsname names{};
  if (uname(&names) == 0) return normalizedVersion(names.release);
  return "0.0.0";
}

}  // namespace dizizoz
