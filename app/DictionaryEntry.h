#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace quorvelle {

struct DictionaryEntry {
  std::optional<std::string> ipa;
  std::optional<std::string> definition;
  std::optional<std::string> audioUrl;  // played through LookupClient::audioProxyURL
  std::optional<std::string> pageUrl;

  // Each member may be absent or null; nothing when `json` is not an object or a present member is not a
  // string.
  static std::optional<DictionaryEntry> decode(const nlohmann::json& json);
  friend bool operator==(const DictionaryEntry&, const DictionaryEntry&) = default;
};

}  // namespace quorvelle
