#include "DiziZoz/core/JsonUtils.h"

#include <cmath>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz {
namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Writing anything else would make
// the JSON writer fail or send text the server cannot read.
bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    std::uint32_t min, codePoint;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, codePoint = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, codePoint = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, codePoint = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

bool isValidObject(const Value& value) {
  switch (value.type()) {
    case Value::value_t::null:
    case Value::value_t::boolean:
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned:
      return true;
    case Value::value_t::number_float:
      return std::isfinite(value.get<double>());
    case Value::value_t::string:
      return isValidUtf8(value.get_ref<const std::string&>());
    case Value::value_t::array:
      for (const auto& element : value) {
        if (!isValidObject(element)) return false;
      }
      return true;
    case Value::value_t::object:
      for (const auto& [key, element] : value.items()) {
        if (!isValidUtf8(key) || !isValidObject(element)) return false;
      }
      return true;
    case Value::value_t::binary:
    case Value::value_t::discarded:
      return false;
  }
  return false;
}

std::optional<Properties> sanitizeDictionary(const Properties& dictionary) {
  if (!dictionary.is_object() || dictionary.empty()) return std::nullopt;
  Properties result = dictionary;
  for (const auto& [key, element] : dictionary.items()) {
    // A key or an address that is not UTF-8 would make the whole map fail to serialise later.
    const bool validKey = isValidUtf8(key);
    if (validKey && isValidObject(element)) continue;
    auto url = value::urlString(element);
    if (validKey && url && isValidUtf8(*url)) {
      result[key] = *url;
    } else if (auto date = value::dateValue(element); validKey && date) {
      result[key] = toInternetDateTimeString(*date);
    } else {
      result.erase(key);
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
  auto parsed = Value::parse(data, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return std::nullopt;
  return parsed;
}

}  // namespace dizizoz
