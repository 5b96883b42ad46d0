#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/PopupMode.h"
#include "app/PopupModel.h"

namespace quorvelle {

// What the popup shows for one state of the model: the widths, the blocks and their texts. The view
// (PopupView) only lays this out; everything that decides what is visible lives here, so it can be
// checked without widgets. Plain value; compute on the main thread (the model lives there).
struct PopupViewState {
  // The popup's width per mode; the content is 2 * kPadding narrower.
  static constexpr int kTranslateWidth = 340;
  static constexpr int kRefineWidth = 440;
  static constexpr int kQuickTranslateWidth = 380;
  static constexpr int kPadding = 14;

  // The selection layout (translate and refine): six blocks from top to bottom, each shown on its own.
  struct WordHeader {
    std::string word;
    std::optional<std::string> ipa;
    bool showsPlayButton = false;
    // Only web addresses that parse: the link hands it to the system's browser.
    std::optional<std::string> dictionaryUrl;
    friend bool operator==(const WordHeader&, const WordHeader&) = default;
  };
  struct SelectionLayout {
    std::optional<WordHeader> wordHeader;
    // "Translating…" or "Refining…" while a request runs.
    std::optional<std::string> loadingText;
    std::optional<std::string> translation;
    // A word's translation is shown large; a phrase's in the body font.
    bool translationIsProminent = false;
    // The refined section: present (maybe empty) whenever the model holds a refine reply.
    std::optional<std::vector<std::string>> variants;
    std::optional<std::string> definition;
    std::optional<std::string> error;
    std::optional<std::string> notice;
    friend bool operator==(const SelectionLayout&, const SelectionLayout&) = default;
  };

  // The quick-translate layout: input, target button, and one result area.
  struct QuickResult {
    enum class Kind { translation, error, placeholder };
    Kind kind = Kind::placeholder;
    // The translation, the error message or the placeholder text.
    std::string text;
    // With a translation only: its copy button passes `text`.
    std::optional<std::string> ipa;
    bool showsPlayButton = false;
    std::optional<std::string> definition;
    friend bool operator==(const QuickResult&, const QuickResult&) = default;
  };
  struct QuickTranslateLayout {
    std::string sourceLabel;  // upper-cased
    std::string input;
    std::string inputPlaceholder;
    std::string targetName;  // upper-cased
    bool showsSpinner = false;
    QuickResult result;
    friend bool operator==(const QuickTranslateLayout&, const QuickTranslateLayout&) = default;
  };

  PopupMode mode = PopupMode::translate;
  int width = kTranslateWidth;
  // Exactly one of the two is present, after the mode.
  std::optional<SelectionLayout> selection;
  std::optional<QuickTranslateLayout> quickTranslate;

  static PopupViewState of(const PopupModel& model);
  static int widthFor(PopupMode mode);
  // The address a dictionary link may open: an absolute http or https address that parses; nothing for
  // anything else (an empty or malformed string, or a scheme that would run a local handler).
  static std::optional<std::string> linkableUrl(const std::string& pageUrl);

  friend bool operator==(const PopupViewState&, const PopupViewState&) = default;
};

// The texts the popup shows.
namespace popup_text {
inline constexpr const char* kTranslating = "Translating…";
inline constexpr const char* kRefining = "Refining…";
inline constexpr const char* kPlayPronunciation = "Play pronunciation";
inline constexpr const char* kOpenDictionary = "Open in Cambridge Dictionary";
inline constexpr const char* kClickToReplace = "Click to replace the selected text";
inline constexpr const char* kCopy = "Copy";
inline constexpr const char* kReplace = "Replace the selected text";
// A variant chosen in a terminal that has no paste key: it went to the clipboard only.
inline constexpr const char* kOnlyOnTheClipboard =
    "Copied to the clipboard: this terminal has no paste key Quorvelle can press.";
inline constexpr const char* kAnyLanguage = "Any language";
inline constexpr const char* kTypeToTranslate = "Type to translate…";
inline constexpr const char* kTranslationAppearsHere = "Translation appears here";
inline constexpr const char* kSwitchTarget = "Switch the result language (Tab)";
inline constexpr const char* kEnglish = "English";
inline constexpr const char* kRussian = "Russian";
}  // namespace popup_text

}  // namespace quorvelle
