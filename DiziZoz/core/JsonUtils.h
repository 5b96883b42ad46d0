#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// True for strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Writing anything else
// would make the JSON writer fail or send text the server cannot read.
bool isValidUtf8(std::string_view text);
// `text` with every byte that does not begin a well-formed sequence replaced by U+FFFD: text that JSON
// can carry, for values that must reach the disk or the service even when a caller's text is broken.
std::string toValidUtf8(std::string_view text);

// True when `map` holds an object with at least one entry.
bool isNonEmptyObject(const std::optional<Properties>& map);

// True when `value` can be written as JSON text as it is: null, Booleans, integers, finite doubles,
// valid UTF-8 text, and arrays and objects made only of such values. URL, date and opaque values are not
// (the sanitiser converts the first two at the top level). Arrays and objects nested deeper than
// platform::maxJsonDepth are not valid either: no reader of the text could take them back.
bool isValidObject(const Value& value);

// The property map made ready to store or send: valid values stay, a URL becomes its absolute text, a
// date its ISO 8601 text ("2024-01-02T03:04:05Z"), and anything else is dropped with the diagnostic line
// "property: <key> isn't serializable, dropping the item". Arrays and objects are kept or dropped whole.
// Nothing for a value that is not an object, or an empty one.
std::optional<Properties> sanitizeDictionary(const Properties& dictionary);

// Sanitises, then writes JSON text (compact, or indented by `indent` spaces when it is >= 0). Nothing
// when sanitising leaves nothing or writing fails (logged as "Failed to serialize dictionary to JSON: ").
std::optional<std::string> toJSONData(const Properties& dictionary, int indent = -1);

// Parses JSON text whose top level is an object; anything else (nesting deeper than platform::maxJsonDepth
// included) gives nothing, without a diagnostic.
std::optional<Properties> fromJSONData(std::string_view data);

}  // namespace dizizoz
