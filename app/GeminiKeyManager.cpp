#include "app/GeminiKeyManager.h"

#include <QString>
#include <QTextBoundaryFinder>

#include "app/Keychain.h"

namespace quorvelle {
namespace {

constexpr std::string_view kBullets = "\u2022\u2022\u2022\u2022";
constexpr int kVisibleCharacters = 4;

}  // namespace

std::optional<std::string> GeminiKeyManager::maskedKey() const {
  const auto key = Keychain(store_).read(kService, kAccount);
  if (!key) return std::nullopt;
  return mask(*key);
}

std::string GeminiKeyManager::mask(std::string_view key) {
  const QString text = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
  // Count back over grapheme clusters, so that a flag or an accented letter is never cut in half.
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  finder.toEnd();
  qsizetype start = text.size();
  for (int i = 0; i < kVisibleCharacters; ++i) {
    const qsizetype previous = finder.toPreviousBoundary();
    if (previous < 0) break;
    start = previous;
  }
  return std::string(kBullets) + text.mid(start).toStdString();
}

}  // namespace quorvelle
