#include "app/PopupModel.h"

#include <QString>

#include "app/UnicodeText.h"

namespace quorvelle {
namespace {

constexpr std::string_view kVariantSeparator = "---";

}  // namespace

void PopupModel::reset(std::string text, PopupMode mode, bool wordMode) {
  setSourceText(std::move(text));
  setMode(mode);
  setWordMode(wordMode);
  setLoading(true);
  setTranslation(std::nullopt);
  setRefined(std::nullopt);
  setEntry(std::nullopt);
  setErrorMessage(std::nullopt);
  setNotice(std::nullopt);
}

std::vector<std::string> PopupModel::variants(std::string_view refinedText) {
  const std::string reply = trimmedWhitespaceAndNewlines(refinedText);
  std::vector<std::string> pieces;
  if (reply.find(kVariantSeparator) != std::string::npos) {
    std::size_t start = 0;
    for (std::size_t at; (at = reply.find(kVariantSeparator, start)) != std::string::npos;
         start = at + kVariantSeparator.size()) {
      pieces.push_back(reply.substr(start, at - start));
    }
    pieces.push_back(reply.substr(start));
  } else {
    // Line breaks can be several bytes long in UTF-8 (U+0085, U+2028, U+2029): split on scalars.
    const std::u32string scalars = QString::fromStdString(reply).toStdU32String();
    std::u32string piece;
    for (const char32_t c : scalars) {
      if (isNewline(c)) {
        pieces.push_back(QString::fromStdU32String(piece).toStdString());
        piece.clear();
      } else {
        piece.push_back(c);
      }
    }
    pieces.push_back(QString::fromStdU32String(piece).toStdString());
  }
  std::vector<std::string> result;
  for (const std::string& piece : pieces) {
    std::string trimmed = trimmedWhitespaceAndNewlines(piece);
    if (!trimmed.empty()) result.push_back(std::move(trimmed));
  }
  return result;
}

PopupModel::ObserverId PopupModel::addObserver(Observer observer) {
  const ObserverId id = nextObserverId_++;
  observers_.emplace(id, std::move(observer));
  return id;
}

void PopupModel::removeObserver(ObserverId id) {
  observers_.erase(id);
}

void PopupModel::announce(Field which) {
  // Over a snapshot: an observer may add or remove observers.
  std::vector<Observer> snapshot;
  snapshot.reserve(observers_.size());
  for (const auto& [id, observer] : observers_) snapshot.push_back(observer);
  for (const Observer& observer : snapshot) observer(which);
}

}  // namespace quorvelle
