#pragma once

#include <optional>
#include <string_view>

namespace quorvelle {

// The three hands-on pages of onboarding, in the order the flow shows them.
enum class TutorialAction { translate, quickTranslate, refine };

// An animation's frame: its name in the resources, the colour behind it (sRGB, 0...1) and its size in
// points.
struct TutorialAnimation {
  std::string_view name;
  double red, green, blue, opacity;
  double width, height;
};

// Everything that differs between the three pages. Texts are shown as they are.
struct TutorialPage {
  std::string_view title;
  std::optional<TutorialAnimation> animation;
  std::string_view leadIn;
  // Empty when the page has no follow-up text.
  std::string_view followUp;
  // The named shortcut the page's recorder edits, and the action named in its analytics event.
  std::string_view shortcutName;
  // The application notification that completes the page.
  std::string_view completingNotification;
  // Practice field: 0 lines for none.
  int sampleLines;
  // Whether the page asks for a Gemini key while none is stored.
  bool needsGeminiKey;
};

const TutorialPage& tutorialPage(TutorialAction action);

}  // namespace quorvelle
