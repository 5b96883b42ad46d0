#include "platform/UserDefaults.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace platform {
namespace {

std::string_view trim(std::string_view s) {
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  };
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// A whole string that is a decimal number (surrounding spaces allowed); integers stay exact.
std::optional<std::variant<std::int64_t, double>> parseNumber(std::string_view text) {
  text = trim(text);
  if (text.empty() || text.substr(0, 2) == "+-") return std::nullopt;
  std::string_view digits = text.front() == '+' ? text.substr(1) : text;
  std::int64_t integer = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), integer);
  if (ec == std::errc() && end == digits.data() + digits.size()) return integer;
  std::string copy(text);
  errno = 0;
  char* stop = nullptr;
  double d = std::strtod(copy.c_str(), &stop);
  if (stop != copy.c_str() + copy.size()) return std::nullopt;
  // Hex floats, "inf" and "nan" are not what a person means by a number in a settings file.
  for (char c : copy) {
    if (!(c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E' || (c >= '0' && c <= '9')))
      return std::nullopt;
  }
  return d;
}

std::int64_t truncate(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

std::string formatDouble(double d) {
  char buffer[64];
  // Shortest text that reads back as the same double.
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
  return ec == std::errc() ? std::string(buffer, end) : std::to_string(d);
}

}  // namespace

std::optional<std::string> UserDefaults::asString(const DefaultsValue& value) {
  if (auto s = value.get<std::string>()) return *s;
  if (auto i = value.get<std::int64_t>()) return std::to_string(*i);
  if (auto d = value.get<double>()) return formatDouble(*d);
  if (auto b = value.get<bool>()) return std::string(*b ? "1" : "0");
  return std::nullopt;
}

bool UserDefaults::asBool(const DefaultsValue& value) {
  if (auto b = value.get<bool>()) return *b;
  if (auto i = value.get<std::int64_t>()) return *i != 0;
  if (auto d = value.get<double>()) return *d != 0.0;  // NaN is non-zero
  if (auto s = value.get<std::string>()) {
    auto t = trim(*s);
    if (equalsIgnoringCase(t, "yes") || equalsIgnoringCase(t, "true")) return true;
    if (auto n = parseNumber(t)) {
      return std::holds_alternative<std::int64_t>(*n) ? std::get<std::int64_t>(*n) != 0
                                                      : std::get<double>(*n) != 0.0;
    }
    return false;
  }
  return false;
}

std::int64_t UserDefaults::asInteger(const DefaultsValue& value) {
  if (auto i = value.get<std::int64_t>()) return *i;
  if (auto d = value.get<double>()) return truncate(*d);
  if (auto b = value.get<bool>()) return *b ? 1 : 0;
  if (auto s = value.get<std::string>()) {
    if (auto n = parseNumber(*s)) {
      return std::holds_alternative<std::int64_t>(*n) ? std::get<std::int64_t>(*n)
                                                      : truncate(std::get<double>(*n));
    }
  }
  return 0;
}

double UserDefaults::asDouble(const DefaultsValue& value) {
  if (auto d = value.get<double>()) return *d;
  if (auto i = value.get<std::int64_t>()) return static_cast<double>(*i);
  if (auto b = value.get<bool>()) return *b ? 1.0 : 0.0;
  if (auto s = value.get<std::string>()) {
    if (auto n = parseNumber(*s)) {
      return std::holds_alternative<std::int64_t>(*n) ? static_cast<double>(std::get<std::int64_t>(*n))
                                                      : std::get<double>(*n);
    }
  }
  return 0.0;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  auto v = objectForKey(key);
  return v ? asString(*v) : std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) const {
  auto v = objectForKey(key);
  return v && asBool(*v);
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
  auto v = objectForKey(key);
  return v ? asInteger(*v) : 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
  auto v = objectForKey(key);
  return v ? asDouble(*v) : 0.0;
}

std::optional<DefaultsValue::Data> UserDefaults::dataForKey(std::string_view key) const {
  auto v = objectForKey(key);
  if (auto d = v ? v->get<DefaultsValue::Data>() : nullptr) return *d;
  return std::nullopt;
}

std::optional<DefaultsValue::Array> UserDefaults::arrayForKey(std::string_view key) const {
  auto v = objectForKey(key);
  if (auto a = v ? v->get<DefaultsValue::Array>() : nullptr) return *a;
  return std::nullopt;
}

std::optional<DefaultsValue::Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
  auto v = objectForKey(key);
  if (auto d = v ? v->get<DefaultsValue::Dictionary>() : nullptr) return *d;
  return std::nullopt;
}

}  // namespace platform
