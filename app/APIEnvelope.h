#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/JsonDepth.h"

namespace quorvelle {

// Reads an optional string member: absent or null gives no value; true in `ok` unless the member is present
// with another type.
inline std::optional<std::string> optionalStringMember(const nlohmann::json& object, const char* key,
                                                       bool& ok) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  if (!it->is_string()) {
    ok = false;
    return std::nullopt;
  }
  return it->get<std::string>();
}

// The one reply shape of the backend, around a payload T that has a static decode(json) -> optional<T>.
template <class T>
struct APIEnvelope {
  bool success = false;
  std::optional<T> data;
  std::optional<std::string> error;

  // Nothing when the reply is not an object, "success" is missing or not a boolean, a present "data" does
  // not decode as T, or a present "error" is not a string. Other keys are ignored.
  static std::optional<APIEnvelope> decode(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    APIEnvelope envelope;
    const auto success = json.find("success");
    if (success == json.end() || !success->is_boolean()) return std::nullopt;
    envelope.success = success->get<bool>();
    const auto data = json.find("data");
    if (data != json.end() && !data->is_null()) {
      envelope.data = T::decode(*data);
      if (!envelope.data) return std::nullopt;
    }
    bool ok = true;
    envelope.error = optionalStringMember(json, "error", ok);
    if (!ok) return std::nullopt;
    return envelope;
  }

  // Parses the reply body first; nothing when it is not JSON (invalid UTF-8 included) or nests deeper than
  // platform::maxJsonDepth.
  static std::optional<APIEnvelope> decode(std::string_view body) {
    const nlohmann::json json = platform::parseBoundedJson(body);
    if (json.is_discarded()) return std::nullopt;
    return decode(json);
  }
};

}  // namespace quorvelle
