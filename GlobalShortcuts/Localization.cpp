#include "GlobalShortcuts/Localization.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <map>
#include <optional>

#include "GlobalShortcuts/Environment.h"
#include "platform/SystemInfo.h"

namespace GlobalShortcuts {
namespace {

constexpr std::string_view kFallbackLanguage = "en";
constexpr std::string_view kArgumentMarker = "%1";

struct Table {
  std::string language;
  std::map<std::string, std::string, std::less<>> texts;
};

std::optional<Table>& chosen() {
  static std::optional<Table> table;
  return table;
}

QString resourcePath(std::string_view language) {
  return QStringLiteral(":/GlobalShortcuts/texts/") + QString::fromUtf8(language.data(), language.size()) +
         QStringLiteral(".json");
}

// The primary subtag of a BCP 47 identifier ("de" of "de-AT", "pt" of "pt_BR"), lower case; nothing when it
// is not two or three ASCII letters, so that no identifier can name another resource.
std::optional<std::string> primaryLanguage(std::string_view identifier) {
  const auto end = identifier.find_first_of("-_");
  const std::string_view subtag = identifier.substr(0, end);
  if (subtag.size() < 2 || subtag.size() > 3) return std::nullopt;
  std::string result;
  for (const char c : subtag) {
    if (c >= 'A' && c <= 'Z') {
      result += static_cast<char>(c - 'A' + 'a');
    } else if (c >= 'a' && c <= 'z') {
      result += c;
    } else {
      return std::nullopt;
    }
  }
  return result;
}

std::string chooseLanguage() {
  const auto* system = environment().systemInfo;
  if (system == nullptr) return std::string(kFallbackLanguage);
  for (const auto& identifier : system->preferredLanguages()) {
    const auto language = primaryLanguage(identifier);
    if (language && QFile::exists(resourcePath(*language))) return *language;
  }
  return std::string(kFallbackLanguage);
}

Table load(std::string language) {
  Table table{std::move(language), {}};
  QFile file(resourcePath(table.language));
  if (!file.open(QIODevice::ReadOnly)) return table;
  const auto object = QJsonDocument::fromJson(file.readAll()).object();
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (it.value().isString())
      table.texts.emplace(it.key().toStdString(), it.value().toString().toStdString());
  }
  return table;
}

const Table& table() {
  auto& table = chosen();
  if (!table) table = load(chooseLanguage());
  return *table;
}

}  // namespace

std::string localizedString(std::string_view key) {
  const auto& texts = table().texts;
  const auto it = texts.find(key);
  return it == texts.end() ? std::string(key) : it->second;
}

std::string localizedString(std::string_view key, std::string_view argument) {
  std::string text = localizedString(key);
  if (const auto at = text.find(kArgumentMarker); at != std::string::npos) {
    text.replace(at, kArgumentMarker.size(), argument);
  }
  return text;
}

std::string localizationLanguage() {
  return table().language;
}

void resetLocalization() {
  chosen().reset();
}

}  // namespace GlobalShortcuts
