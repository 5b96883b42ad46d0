#include "DiziZoz/core/DateFormats.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/Clock.h"

namespace dizizoz {
namespace {

using namespace std::chrono;

constexpr std::array<std::string_view, 7> weekdayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> monthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Reads exactly `count` digits at `pos`.
bool readDigits(std::string_view text, std::size_t& pos, std::size_t count, int& out) {
  if (pos + count > text.size()) return false;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  out = value;
  return true;
}

bool expect(std::string_view text, std::size_t& pos, std::string_view literal) {
  if (text.substr(pos, literal.size()) != literal) return false;
  pos += literal.size();
  return true;
}

struct Fields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
};

// The fields as milliseconds since 1970, which hold every year of four digits; nothing when they name no
// date.
std::optional<sys_time<milliseconds>> toMilliseconds(const Fields& f) {
  year_month_day ymd{year{f.year}, month{static_cast<unsigned>(f.month)}, day{static_cast<unsigned>(f.day)}};
  if (!ymd.ok() || f.hour > 23 || f.minute > 59 || f.second > 59) return std::nullopt;
  return sys_days{ymd} + hours{f.hour} + minutes{f.minute} + seconds{f.second} + milliseconds{f.millis};
}

// Whether the clock's 64-bit nanosecond count, which spans about 1678 to 2262, holds `point`: converting
// a date outside it would overflow into some other date.
bool clockHolds(sys_time<milliseconds> point) {
  constexpr auto limit = duration_cast<milliseconds>(Date::duration::max());
  return point.time_since_epoch() <= limit && point.time_since_epoch() >= -limit;
}

std::optional<Date> toDate(const Fields& f) {
  const auto point = toMilliseconds(f);
  if (!point || !clockHolds(*point)) return std::nullopt;
  return time_point_cast<Date::duration>(*point);
}

// "yyyy-MM-dd'T'HH:mm:ss", then optionally ".SSS", then "Z".
std::optional<Date> parseIso(std::string_view text, bool withMillis) {
  Fields f;
  std::size_t pos = 0;
  bool ok = readDigits(text, pos, 4, f.year) && expect(text, pos, "-") && readDigits(text, pos, 2, f.month) &&
            expect(text, pos, "-") && readDigits(text, pos, 2, f.day) && expect(text, pos, "T") &&
            readDigits(text, pos, 2, f.hour) && expect(text, pos, ":") &&
            readDigits(text, pos, 2, f.minute) && expect(text, pos, ":") &&
            readDigits(text, pos, 2, f.second);
  if (ok && withMillis) ok = expect(text, pos, ".") && readDigits(text, pos, 3, f.millis);
  if (!ok || !expect(text, pos, "Z") || pos != text.size()) return std::nullopt;
  return toDate(f);
}

// "EEE, dd MMM yyyy HH:mm:ss z", its fields unchecked.
std::optional<Fields> readHttpDate(std::string_view text) {
  std::size_t pos = 0;
  bool weekday = false;
  for (auto name : weekdayNames) weekday = weekday || expect(text, pos, name);
  if (!weekday || !expect(text, pos, ", ")) return std::nullopt;

  Fields f;
  if (!readDigits(text, pos, 2, f.day) || !expect(text, pos, " ")) return std::nullopt;
  for (std::size_t i = 0; i < monthNames.size() && f.month == 0; ++i) {
    if (expect(text, pos, monthNames[i])) f.month = static_cast<int>(i) + 1;
  }
  bool ok = f.month != 0 && expect(text, pos, " ") && readDigits(text, pos, 4, f.year) &&
            expect(text, pos, " ") && readDigits(text, pos, 2, f.hour) && expect(text, pos, ":") &&
            readDigits(text, pos, 2, f.minute) && expect(text, pos, ":") &&
            readDigits(text, pos, 2, f.second) && expect(text, pos, " ");
  if (!ok) return std::nullopt;
  auto zone = text.substr(pos);
  if (zone != "GMT" && zone != "UTC") return std::nullopt;
  return f;
}

std::string format(Date date, bool withMillis) {
  auto ms = floor<milliseconds>(date);
  auto dayPoint = floor<days>(ms);
  year_month_day ymd{dayPoint};
  hh_mm_ss<milliseconds> time{ms - dayPoint};
  char buffer[40];
  int n = std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(ymd.year()),
                        static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                        static_cast<int>(time.seconds().count()));
  std::string text(buffer, static_cast<std::size_t>(n));
  if (withMillis) {
    std::snprintf(buffer, sizeof buffer, ".%03d", static_cast<int>(time.subseconds().count()));
    text += buffer;
  }
  return text + "Z";
}

// A plain decimal number: optional sign, digits with an optional fraction, optional exponent. Rejects
// everything else a C library parser would take (blanks, "inf", "nan", hexadecimal).
bool isDecimalNumber(std::string_view text) {
  std::size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  std::size_t digits = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos, ++digits;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos, ++digits;
  }
  if (digits == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    std::size_t exponentDigits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return pos == text.size();
}

}  // namespace

std::string toISO8601String(Date date) {
  return format(date, true);
}

std::string toInternetDateTimeString(Date date) {
  return format(date, false);
}

std::optional<Date> toISO8601Date(std::string_view text) {
  if (auto date = parseIso(text, true)) return date;
  return parseIso(text, false);
}

std::optional<Date> parseHttpDate(std::string_view text) {
  const auto fields = readHttpDate(text);
  return fields ? toDate(*fields) : std::nullopt;
}

std::string nanosNow() {
  return nanosNow(platform::SystemClock::shared());
}

std::string nanosNow(const platform::Clock& clock) {
  auto nanos = duration_cast<nanoseconds>(clock.now().time_since_epoch()).count();
  return std::to_string(nanos);
}

std::optional<double> parseRetryAfter(std::string_view text, Date now) {
  if (isDecimalNumber(text)) {
    double seconds = 0;
    auto [end, error] =
        std::from_chars(text.data() + (text.front() == '+' ? 1 : 0), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds))
      return std::nullopt;
    if (seconds < 0) return std::nullopt;
    return seconds + 0.0;  // "-0" reads as 0, not negative zero
  }
  const auto fields = readHttpDate(text);
  const auto point = fields ? toMilliseconds(*fields) : std::nullopt;
  if (!point) return std::nullopt;
  if (clockHolds(*point)) {
    const auto date = time_point_cast<Date::duration>(*point);
    if (date <= now) return 0.0;
    return duration<double>(date - now).count();
  }
  // A date the clock cannot hold: one before its range is long past, and one after it is a wait longer
  // than the clock holds, which addingSeconds makes the latest time it holds, as for such a number.
  const double seconds =
      duration<double>(point->time_since_epoch()).count() - duration<double>(now.time_since_epoch()).count();
  return seconds > 0 ? seconds : 0.0;
}

Date addingSeconds(Date date, double seconds) {
  if (!(seconds > 0)) return date;
  const double room = duration<double>(Date::max() - std::max(date, Date{})).count();
  // A second short of the limit: converting a double that close to it may round past it.
  if (seconds >= room - 1.0) return Date::max();
  return date + duration_cast<Date::duration>(duration<double>(seconds));
}

std::optional<double> parseRetryAfter(std::string_view text) {
  return parseRetryAfter(text, platform::SystemClock::shared().now());
}

}  // namespace dizizoz
