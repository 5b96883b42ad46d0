#include "DiziZoz/core/JsonUtils.h"

#include <cmath>
#include <utility>
#include <vector>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/HedgeLog.h"
#include "platform/JsonDepth.h"

namespace dizizoz {
namespace {

// Walks without recursion: a caller's value may be nested far deeper than the stack allows.
// `depth` is the level of `value` itself (1 for a top-level array or object).
bool isValidObjectAt(const Value& value, std::size_t depth) {
  std::vector<std::pair<const Value*, std::size_t>> pending{{&value, depth}};
  while (!pending.empty()) {
    const auto [current, level] = pending.back();
    pending.pop_back();
    switch (current->type()) {
      case Value::value_t::null:
      case Value::value_t::boolean:
      case Value::value_t::number_integer:
      case Value::value_t::number_unsigned:
        break;
      case Value::value_t::number_float:
        if (!std::isfinite(current->get<double>())) return false;
        break;
      case Value::value_t::string:
        if (!isValidUtf8(current->get_ref<const std::string&>())) return false;
        break;
      case Value::value_t::array:
        if (level > platform::maxJsonDepth) return false;
        for (const auto& element : *current) pending.emplace_back(&element, level + 1);
        break;
      case Value::value_t::object:
        if (level > platform::maxJsonDepth) return false;
        for (const auto& [key, element] : current->items()) {
          if (!isValidUtf8(key)) return false;
          pending.emplace_back(&element, level + 1);
        }
        break;
      case Value::value_t::binary:
      case Value::value_t::discarded:
        return false;
    }
  }
  return true;
}

// The length of the well-formed UTF-8 sequence at `text[i]`; 0 when none starts there.
std::size_t sequenceLength(std::string_view text, std::size_t i) {
  auto c = static_cast<unsigned char>(text[i]);
  std::size_t extra;
  std::uint32_t min, codePoint;
  if (c < 0x80) {
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, codePoint = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, codePoint = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, codePoint = c & 0x07;
  } else {
    return 0;
  }
  if (i + extra >= text.size()) return 0;
  for (std::size_t k = 1; k <= extra; ++k) {
    auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  return extra + 1;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string toValidUtf8(std::string_view text) {
  if (isValidUtf8(text)) return std::string(text);
  std::string result;
  result.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceLength(text, i);
    if (length == 0) {
      result += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
    } else {
      result.append(text, i, length);
      i += length;
    }
  }
  return result;
}

bool isNonEmptyObject(const std::optional<Properties>& map) {
  return map && map->is_object() && !map->empty();
}

bool isValidObject(const Value& value) {
  return isValidObjectAt(value, 1);
}

std::optional<Properties> sanitizeDictionary(const Properties& dictionary) {
  if (!dictionary.is_object() || dictionary.empty()) return std::nullopt;
  // Built member by member: copying the whole map first would recurse through a value too deep to keep.
  Properties result = Properties::object();
  for (const auto& [key, element] : dictionary.items()) {
    // A key or an address that is not UTF-8 would make the whole map fail to serialise later.
    const bool validKey = isValidUtf8(key);
    if (validKey && isValidObjectAt(element, 2)) {
      result[key] = element;
      continue;
    }
    auto url = value::urlString(element);
    if (validKey && url && isValidUtf8(*url)) {
      result[key] = *url;
    } else if (auto date = value::dateValue(element); validKey && date) {
      result[key] = toInternetDateTimeString(*date);
    } else {
      hedgeLog("property: " + key + " isn't serializable, dropping the item");
    }
  }
  return result;
}

std::optional<std::string> toJSONData(const Properties& dictionary, int indent) {
  auto sanitized = sanitizeDictionary(dictionary);
  if (!sanitized) return std::nullopt;
  try {
    return sanitized->dump(indent);
  } catch (const std::exception& error) {
    hedgeLog(std::string("Failed to serialize dictionary to JSON: ") + error.what());
    return std::nullopt;
  }
}

std::optional<Properties> fromJSONData(std::string_view data) {
  auto parsed = platform::parseBoundedJson(data);
  if (!parsed.is_object()) return std::nullopt;
  return parsed;
}

}  // namespace dizizoz
