#include "app/DictionaryEntry.h"

#include "app/APIEnvelope.h"

namespace quorvelle {

std::optional<DictionaryEntry> DictionaryEntry::decode(const nlohmann::json& json) {
  if (!json.is_object()) return std::nullopt;
  bool ok = true;
  DictionaryEntry entry;
  entry.ipa = optionalStringMember(json, "ipa", ok);
  entry.definition = optionalStringMember(json, "definition", ok);
  entry.audioUrl = optionalStringMember(json, "audioUrl", ok);
  entry.pageUrl = optionalStringMember(json, "pageUrl", ok);
  if (!ok) return std::nullopt;
  return entry;
}

}  // namespace quorvelle
