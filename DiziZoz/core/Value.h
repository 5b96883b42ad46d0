#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace dizizoz {

// The client's "any" value: what callers put into event properties, super properties, feature flags and
// payloads. It is an nlohmann::json, so every JSON value (null, Boolean, integer, double, text, array,
// object) is written as usual:
//
//   Properties props{{"plan", "pro"}, {"seats", 3}, {"ratio", 0.5}, {"tags", {"a", "b"}}};
//
// Values that JSON cannot hold directly travel as json binary values whose subtype says what they are.
// Binary never appears in valid JSON text, so such a tag cannot collide with anything a caller writes:
//   value::url(text)    an address; the sanitiser writes its absolute text;
//   value::date(date)   a point in time; the sanitiser writes ISO 8601 text ("2024-01-02T03:04:05Z");
//   value::opaque(name) something with no JSON form (the sanitiser drops it with a diagnostic line).
// Any other binary value counts as opaque. Only top-level property values are converted: a URL or date
// nested inside an array or object makes the whole value unserialisable, and the sanitiser drops it.
// Doubles may be NaN or infinite; the sanitiser drops them as they have no JSON form.
using Value = nlohmann::json;
// A property map: a Value holding an object (text keys).
using Properties = nlohmann::json;
using Date = std::chrono::system_clock::time_point;

namespace value {

inline constexpr std::uint8_t urlSubtype = 0x55;     // 'U'
inline constexpr std::uint8_t dateSubtype = 0x44;    // 'D'
inline constexpr std::uint8_t opaqueSubtype = 0x4F;  // 'O'

// `absoluteString` is the address's absolute text, for example "https://example.com/a?b=1".
Value url(std::string_view absoluteString);
Value date(Date date);
// `description` names the value in diagnostics only.
Value opaque(std::string_view description);

bool isUrl(const Value& v);
bool isDate(const Value& v);
std::optional<std::string> urlString(const Value& v);
std::optional<Date> dateValue(const Value& v);

}  // namespace value
}  // namespace dizizoz
