#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/DictionaryEntry.h"
#include "app/PopupMode.h"
#include "app/TranslationResult.h"

namespace quorvelle {

// What the popup shows. Written by PopupController (and, for sourceText in quick translate, by the view's
// input field), rendered by the popup view. Created once with the controller and reused for every popup.
//
// Every assignment of a field is announced to the observers, after the field holds its new value, with
// the field that changed (assigning an equal value is announced too). Main thread only.
class PopupModel {
 public:
  enum class Field {
    sourceText,
    mode,
    isWordMode,
    isLoading,
    translation,
    refined,
    entry,
    errorMessage,
    notice,
    focusToken,
    quickTarget,
  };
  using Observer = std::function<void(Field)>;
  using ObserverId = std::uint64_t;

  // The text being translated or refined; in quick translate the text in the input box.
  const std::string& sourceText() const { return sourceText_; }
  PopupMode mode() const { return mode_; }
  // The source is a single dictionary word (translate mode only).
  bool isWordMode() const { return isWordMode_; }
  // A backend request for the current popup is under way.
  bool isLoading() const { return isLoading_; }
  const std::optional<TranslationResult>& translation() const { return translation_; }
  // The language model's whole refine reply as received; the view lists variants(refined).
  const std::optional<std::string>& refined() const { return refined_; }
  // The word's dictionary entry; its audioUrl is what pronunciation plays.
  const std::optional<DictionaryEntry>& entry() const { return entry_; }
  // The description of the last failure, shown in place of a result.
  const std::optional<std::string>& errorMessage() const { return errorMessage_; }
  // What became of the user's choice when it is not what they would expect (a variant that could only
  // be put on the clipboard), shown below the result.
  const std::optional<std::string>& notice() const { return notice_; }
  // Rises by one each time quick translate opens; the view moves keyboard focus into its input then.
  std::int64_t focusToken() const { return focusToken_; }
  // The language quick translate translates into: "en" or "ru".
  const std::string& quickTarget() const { return quickTarget_; }

  void setSourceText(std::string v) { assign(sourceText_, std::move(v), Field::sourceText); }
  void setMode(PopupMode v) { assign(mode_, v, Field::mode); }
  void setWordMode(bool v) { assign(isWordMode_, v, Field::isWordMode); }
  void setLoading(bool v) { assign(isLoading_, v, Field::isLoading); }
  void setTranslation(std::optional<TranslationResult> v) {
    assign(translation_, std::move(v), Field::translation);
  }
  void setRefined(std::optional<std::string> v) { assign(refined_, std::move(v), Field::refined); }
  void setEntry(std::optional<DictionaryEntry> v) { assign(entry_, std::move(v), Field::entry); }
  void setErrorMessage(std::optional<std::string> v) {
    assign(errorMessage_, std::move(v), Field::errorMessage);
  }
  void setNotice(std::optional<std::string> v) { assign(notice_, std::move(v), Field::notice); }
  void raiseFocusToken() { assign(focusToken_, focusToken_ + 1, Field::focusToken); }
  void setQuickTarget(std::string v) { assign(quickTarget_, std::move(v), Field::quickTarget); }

  // Prepares the model for a new popup: the text, the mode and word mode, loading, and no result, error
  // or notice from the previous popup. focusToken and quickTarget stay.
  void reset(std::string text, PopupMode mode, bool wordMode);

  // The variants of a refine reply: pieces between "---" separators when the reply has any, else its
  // lines; each trimmed, empty ones dropped, in order.
  static std::vector<std::string> variants(std::string_view refinedText);

  ObserverId addObserver(Observer observer);
  void removeObserver(ObserverId id);

 private:
  template <class T, class V>
  void assign(T& field, V&& value, Field which) {
    field = std::forward<V>(value);
    announce(which);
  }
  void announce(Field which);

  std::string sourceText_;
  PopupMode mode_ = PopupMode::translate;
  bool isWordMode_ = false;
  bool isLoading_ = false;
  std::optional<TranslationResult> translation_;
  std::optional<std::string> refined_;
  std::optional<DictionaryEntry> entry_;
  std::optional<std::string> errorMessage_;
  std::optional<std::string> notice_;
  std::int64_t focusToken_ = 0;
  std::string quickTarget_ = "en";

  ObserverId nextObserverId_ = 1;
  std::map<ObserverId, Observer> observers_;
};

}  // namespace quorvelle
