#include "app/AppSettings.h"

#include <cmath>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/ModifierFlags.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "app/BackendAddress.h"
#include "app/Language.h"
#include "app/ShortcutNames.h"
#include "platform/Log.h"

namespace quorvelle {
namespace {

// The prompts are sent as they are: every character counts, the dashes are U+2014.
// clang-format off
const char* const kPromptTextV5 =
    "Act as a casual, developer-friendly text refiner. I will give you rough drafts written in English or your own language. Rewrite them into clear, natural, modern English.\n"
    "\n"
    "Strict rules:\n"
    "1. Reply with exactly 3 rewritten variants of the whole draft: 1) natural & casual, 2) short & direct, 3) polite but still relaxed.\n"
    "2. Separate the variants with a line containing only \"---\".\n"
    "3. Rewrite only — keep the draft's intent, format, and point of view. The draft can be anything: a tweet, a post, a commit message, a reply. Do not turn it into a conversation: never start a variant with a greeting or filler opener (\"hey\", \"hi\", \"okay\", \"so\", \"well\"), and never add sign-offs or information that wasn't in the original. Start every variant directly with the rewritten content.\n"
    "4. Output in lowercase, casual style. Fix typos and grammar; replace stiff or broken phrases with natural native equivalents (e.g. phrasal verbs like \"brush up on\").\n"
    "5. Correct context mismatches (like choosing the right words for moving vs. traveling; drop slang the reader might not get).\n"
    "6. Keep technical terms, names, numbers, code, and identifiers exactly as written — never translate or \"fix\" them.\n"
    "7. Plain text only: no markdown, no numbering, no labels, no quotes, no explanations — nothing but the 3 variants and the separators.";

const char* const kPromptTextV3 =
    "Act as a casual, developer-friendly text refiner. I will give you rough drafts written in English or Russian. Rewrite them into clear, natural, modern English.\n"
    "\n"
    "Strict rules:\n"
    "1. Reply with exactly 3 rewritten variants of the whole draft: 1) natural & casual, 2) short & direct, 3) polite but still relaxed.\n"
    "2. Separate the variants with a line containing only \"---\".\n"
    "3. Rewrite only — keep the draft's intent, format, and point of view. The draft can be anything: a tweet, a post, a commit message, a reply. Do not turn it into a conversation: never start a variant with a greeting or filler opener (\"hey\", \"hi\", \"okay\", \"so\", \"well\"), and never add sign-offs or information that wasn't in the original. Start every variant directly with the rewritten content.\n"
    "4. Output in lowercase, casual style. Fix typos and grammar; replace stiff or broken phrases with natural native equivalents (e.g. phrasal verbs like \"brush up on\").\n"
    "5. Correct context mismatches (like choosing the right words for moving vs. traveling; drop slang the reader might not get).\n"
    "6. Plain text only: no markdown, no numbering, no labels, no quotes, no explanations — nothing but the 3 variants and the separators.";
// clang-format on

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

AppSettings::AppSettings(platform::UserDefaults& defaults, const platform::SystemInfo& system)
    : defaults_(defaults), system_(system) {
  migrateRefinePrompt();
}

std::string AppSettings::targetLanguage() const {
  if (auto stored = defaults_.stringForKey(kTargetLanguage)) return *stored;
  return systemDefaultLanguage();
}

std::string AppSettings::accent() const {
  return defaults_.stringForKey(kAccent).value_or(std::string(kDefaultAccent));
}

bool AppSettings::autoPlayPronunciation() const {
  const auto stored = defaults_.objectForKey(kAutoPlayPronunciation);
  if (stored && stored->is<bool>()) return *stored->get<bool>();
  return true;
}

double AppSettings::pronunciationVolume() const {
  const auto stored = defaults_.objectForKey(kPronunciationVolume);
  if (!stored) return kDefaultPronunciationVolume;
  const double volume = platform::UserDefaults::asDouble(*stored);
  // NaN would pass both bounds and reach the audio player.
  if (std::isnan(volume)) return kDefaultPronunciationVolume;
  if (volume <= 0) return 0;
  if (volume > 1) return 1;
  return volume;
}

std::string AppSettings::refinePrompt() const {
  return defaults_.stringForKey(kRefinePrompt).value_or(defaultRefinePrompt());
}

bool AppSettings::hasCompletedOnboarding() const {
  return defaults_.boolForKey(kHasCompletedOnboarding);
}

const std::string& AppSettings::systemDefaultLanguage() const {
  if (!systemDefaultLanguage_) systemDefaultLanguage_ = Language::systemDefault(system_.preferredLanguages());
  return *systemDefaultLanguage_;
}

std::string_view AppSettings::defaultServerURL() {
  return compiledBackendURL();
}

const std::string& AppSettings::defaultRefinePrompt() {
  static const std::string kPrompt = kPromptTextV5;
  return kPrompt;
}

const std::string& AppSettings::defaultRefinePromptV3() {
  static const std::string kPrompt = kPromptTextV3;
  return kPrompt;
}

const std::string& AppSettings::defaultRefinePromptV4() {
  // Version 4 added the rule on technical terms to the prompt of version 3.
  static const std::string kPrompt =
      replaceAll(defaultRefinePromptV3(), "6. Plain text only:",
                 "6. Keep technical terms, names, numbers, code, and identifiers exactly as written — never "
                 "translate or \"fix\" them.\n7. Plain text only:");
  return kPrompt;
}

void AppSettings::migrateRefinePrompt() {
  if (defaults_.stringForKey(kRefinePrompt)) return;
  const std::pair<std::string_view, const std::string*> legacy[] = {
      {kRefinePromptV4, &defaultRefinePromptV4()},
      {kRefinePromptV3, &defaultRefinePromptV3()},
  };
  for (const auto& [key, oldDefault] : legacy) {
    const auto stored = defaults_.stringForKey(key);
    if (!stored) continue;
    // A prompt the user never edited follows the new default; an edited one is carried over as it is.
    defaults_.set(kRefinePrompt, *stored == *oldDefault ? defaultRefinePrompt() : *stored);
    return;
  }
}

std::optional<GlobalShortcuts::Shortcut> AppSettings::legacyShortcut(std::string_view codeKey,
                                                                     std::string_view modifiersKey) const {
  if (!defaults_.objectForKey(codeKey)) return std::nullopt;
  return GlobalShortcuts::Shortcut(defaults_.integerForKey(codeKey), defaults_.integerForKey(modifiersKey));
}

void AppSettings::migrateLegacyHotkeys() {
  using GlobalShortcuts::Key;
  using GlobalShortcuts::ModifierFlags;
  using GlobalShortcuts::Shortcut;

  if (defaults_.boolForKey(kHotkeysMigrated)) return;
  // Marked first, so that a migration that goes wrong part-way is not repeated at every launch.
  defaults_.set(kHotkeysMigrated, true);

  const auto migrate = [](const std::optional<Shortcut>& shortcut, const GlobalShortcuts::Name& name) {
    if (!shortcut) return;
    if (shortcut->carbonModifiers() == 0) {
      platform::log(platform::LogLevel::warning,
                    "settings: the earlier hot key of \"" + name.rawValue() +
                        "\" has no modifiers and is not carried over; the shortcut stays as it is");
      return;
    }
    GlobalShortcuts::setShortcut(shortcut, name);
  };

  auto translate = legacyShortcut(kLegacyHotkeyKeyCode, kLegacyHotkeyModifiers);
  if (!translate) {
    const auto id = defaults_.stringForKey(kLegacyHotkeyID);
    if (id == "opt-d") {
      translate = Shortcut(Key::d, ModifierFlags::option);
    } else if (id == "ctrl-opt-t") {
      translate = Shortcut(Key::t, ModifierFlags::control | ModifierFlags::option);
    } else if (id == "cmd-shift-t") {
      translate = Shortcut(Key::t, ModifierFlags::command | ModifierFlags::shift);
    }
  }
  migrate(translate, shortcuts::translate());
  migrate(legacyShortcut(kLegacyRefineHotkeyKeyCode, kLegacyRefineHotkeyModifiers), shortcuts::refine());

  for (const auto key :
       {kLegacyHotkeyID, kLegacyHotkeyKeyCode, kLegacyHotkeyModifiers, kLegacyHotkeyKeyLabel,
        kLegacyRefineHotkeyKeyCode, kLegacyRefineHotkeyModifiers, kLegacyRefineHotkeyKeyLabel}) {
    defaults_.remove(key);
  }
}

}  // namespace quorvelle
