#include "ui/TutorialAction.h"

#include "app/AppNotifications.h"

namespace quorvelle {
namespace {

constexpr double kAnimationHeight = 310;

const TutorialPage kTranslate{
    .title = "Translate a word",
    .animation = TutorialAnimation{.name = "dictionary-lookup",
                                   .red = 0.11,
                                   .green = 0.11,
                                   .blue = 0.118,
                                   .opacity = 1,
                                   .width = kAnimationHeight * 800 / 560,
                                   .height = kAnimationHeight},
    .leadIn = "Select the word below, press",
    .followUp = "",
    .shortcutName = "translate",
    .completingNotification = notifications::kDidTranslateSelection,
    .sampleLines = 1,
    .needsGeminiKey = false,
};

const TutorialPage kQuickTranslate{
    .title = "Type to translate",
    .animation = std::nullopt,
    .leadIn = "Click your desktop \u2014 nothing selected \u2014 press",
    .followUp = "then type any word.",
    .shortcutName = "translate",
    .completingNotification = notifications::kDidOpenQuickTranslate,
    .sampleLines = 0,
    .needsGeminiKey = false,
};

const TutorialPage kRefine{
    .title = "Fix a rough draft",
    .animation = TutorialAnimation{.name = "chat-refine",
                                   .red = 0.95,
                                   .green = 0.95,
                                   .blue = 0.965,
                                   .opacity = 1,
                                   .width = kAnimationHeight * 900 / 600,
                                   .height = kAnimationHeight},
    .leadIn = "Select the draft below, press",
    .followUp = "then click a variant to replace it.",
    .shortcutName = "refine",
    .completingNotification = notifications::kDidReplaceRefined,
    .sampleLines = 2,
    .needsGeminiKey = true,
};

}  // namespace

const TutorialPage& tutorialPage(TutorialAction action) {
  switch (action) {
    case TutorialAction::translate:
      return kTranslate;
    case TutorialAction::quickTranslate:
      return kQuickTranslate;
    case TutorialAction::refine:
      break;
  }
  return kRefine;
}

}  // namespace quorvelle
