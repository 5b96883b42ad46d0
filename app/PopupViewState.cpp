#include "app/PopupViewState.h"

#include <QString>
#include <QUrl>

namespace quorvelle {
namespace {

std::string upper(const char* text) {
  return QString::fromUtf8(text).toUpper().toStdString();
}

PopupViewState::SelectionLayout selectionLayout(const PopupModel& model) {
  PopupViewState::SelectionLayout s;
  const auto& entry = model.entry();
  if (model.isWordMode()) {
    PopupViewState::WordHeader header{model.sourceText(), std::nullopt, false, std::nullopt};
    if (entry) {
      header.ipa = entry->ipa;
      header.showsPlayButton = entry->audioUrl.has_value();
      if (entry->pageUrl) header.dictionaryUrl = PopupViewState::linkableUrl(*entry->pageUrl);
    }
    s.wordHeader = std::move(header);
  }
  if (model.isLoading()) {
    s.loadingText = model.mode() == PopupMode::refine ? popup_text::kRefining : popup_text::kTranslating;
  }
  if (model.translation()) {
    s.translation = model.translation()->translated;
    s.translationIsProminent = model.isWordMode();
  }
  if (model.refined()) s.variants = PopupModel::variants(*model.refined());
  if (entry && entry->definition) s.definition = entry->definition;
  s.error = model.errorMessage();
  s.notice = model.notice();
  return s;
}

PopupViewState::QuickTranslateLayout quickTranslateLayout(const PopupModel& model) {
  PopupViewState::QuickTranslateLayout q;
  q.sourceLabel = upper(popup_text::kAnyLanguage);
  q.input = model.sourceText();
  q.inputPlaceholder = popup_text::kTypeToTranslate;
  q.targetName = upper(model.quickTarget() == "ru" ? popup_text::kRussian : popup_text::kEnglish);
  q.showsSpinner = model.isLoading();

  using Kind = PopupViewState::QuickResult::Kind;
  const auto& entry = model.entry();
  if (model.translation()) {
    q.result.kind = Kind::translation;
    q.result.text = model.translation()->translated;
    if (entry) {
      q.result.ipa = entry->ipa;
      q.result.showsPlayButton = entry->audioUrl.has_value();
      q.result.definition = entry->definition;
    }
  } else if (model.errorMessage()) {
    q.result.kind = Kind::error;
    q.result.text = *model.errorMessage();
  } else {
    q.result.kind = Kind::placeholder;
    q.result.text = popup_text::kTranslationAppearsHere;
  }
  return q;
}

}  // namespace

int PopupViewState::widthFor(PopupMode mode) {
  switch (mode) {
    case PopupMode::translate:
      return kTranslateWidth;
    case PopupMode::refine:
      return kRefineWidth;
    case PopupMode::quickTranslate:
      return kQuickTranslateWidth;
  }
  return kTranslateWidth;
}

std::optional<std::string> PopupViewState::linkableUrl(const std::string& pageUrl) {
  if (pageUrl.empty()) return std::nullopt;
  const QUrl url(QString::fromStdString(pageUrl), QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
  // The address comes from the backend and is handed to the desktop's URL handler: only a web page may
  // open, never a local file or an application's own scheme.
  const QString scheme = url.scheme().toLower();
  if (scheme != "http" && scheme != "https") return std::nullopt;
  return pageUrl;
}

PopupViewState PopupViewState::of(const PopupModel& model) {
  PopupViewState state;
  state.mode = model.mode();
  state.width = widthFor(model.mode());
  if (model.mode() == PopupMode::quickTranslate) {
    state.quickTranslate = quickTranslateLayout(model);
  } else {
    state.selection = selectionLayout(model);
  }
  return state;
}

}  // namespace quorvelle
