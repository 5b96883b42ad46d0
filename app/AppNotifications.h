#pragma once

#include <string_view>

namespace quorvelle::notifications {

// Names of the application's notifications on the default notification center.
// Posted by the popup; observed by the onboarding tutorial.
inline constexpr std::string_view kDidTranslateSelection = "quorvelle.didTranslateSelection";
inline constexpr std::string_view kDidReplaceRefined = "quorvelle.didReplaceRefined";
inline constexpr std::string_view kDidOpenQuickTranslate = "quorvelle.didOpenQuickTranslate";
// Posted when a refine needs a Gemini key that is not stored; asks the settings window to focus its field.
inline constexpr std::string_view kFocusGeminiApiKey = "quorvelle.focusGeminiApiKey";

}  // namespace quorvelle::notifications
