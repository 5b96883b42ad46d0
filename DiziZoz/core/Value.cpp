#include "DiziZoz/core/Value.h"

#include <cstdint>
#include <vector>

namespace dizizoz::value {
namespace {

Value tagged(std::string_view text, std::uint8_t subtype) {
  return Value::binary(std::vector<std::uint8_t>(text.begin(), text.end()), subtype);
}

bool hasSubtype(const Value& v, std::uint8_t subtype) {
  return v.is_binary() && v.get_binary().has_subtype() && v.get_binary().subtype() == subtype;
}

}  // namespace

Value url(std::string_view absoluteString) {
  return tagged(absoluteString, urlSubtype);
}

Value date(Date date) {
  // Nanoseconds since 1970, big-endian two's complement.
  auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
  auto bits = static_cast<std::uint64_t>(nanos);
  std::vector<std::uint8_t> bytes(8);
  for (int i = 0; i < 8; ++i)
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * (7 - i)));
  return Value::binary(std::move(bytes), dateSubtype);
}

Value opaque(std::string_view description) {
  return tagged(description, opaqueSubtype);
}

bool isUrl(const Value& v) {
  return hasSubtype(v, urlSubtype);
}

bool isDate(const Value& v) {
  return hasSubtype(v, dateSubtype) && v.get_binary().size() == 8;
}

std::optional<std::string> urlString(const Value& v) {
  if (!isUrl(v)) return std::nullopt;
  const auto& bytes = v.get_binary();
  return std::string(bytes.begin(), bytes.end());
}

std::optional<Date> dateValue(const Value& v) {
  if (!isDate(v)) return std::nullopt;
  std::uint64_t bits = 0;
  for (auto byte : v.get_binary()) bits = (bits << 8) | byte;
  return Date(
      std::chrono::duration_cast<Date::duration>(std::chrono::nanoseconds(static_cast<std::int64_t>(bits))));
}

}  // namespace dizizoz::value
