#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "GlobalShortcuts/Shortcut.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"

namespace quorvelle {

// The user's settings over the user defaults. No defaults are registered: every reader applies its
// default at the point of reading, so an absent key and a key removed later read the same.
//
// Constructing the object runs the one-time migration of the refine prompt of earlier versions.
// Main thread only. The defaults and the system information must outlive the object.
class AppSettings {
 public:
  // Keys of the user defaults.
  static constexpr std::string_view kTargetLanguage = "targetLanguage";
  static constexpr std::string_view kAccent = "accent";
  static constexpr std::string_view kAutoPlayPronunciation = "autoPlayPronunciation";
  static constexpr std::string_view kPronunciationVolume = "pronunciationVolume";
  static constexpr std::string_view kRefinePrompt = "refinePromptV5";
  static constexpr std::string_view kRefinePromptV4 = "refinePromptV4";
  static constexpr std::string_view kRefinePromptV3 = "refinePromptV3";
  static constexpr std::string_view kHasCompletedOnboarding = "hasCompletedOnboarding";
  static constexpr std::string_view kHotkeysMigrated = "hotkeysMigratedToGlobalShortcuts";
  static constexpr std::string_view kFallbackDeviceID = "fallbackDeviceID";
  // Hot keys of earlier versions, migrated into the named shortcuts and then removed.
  static constexpr std::string_view kLegacyHotkeyID = "hotkeyID";
  static constexpr std::string_view kLegacyHotkeyKeyCode = "hotkeyKeyCode";
  static constexpr std::string_view kLegacyHotkeyModifiers = "hotkeyModifiers";
  static constexpr std::string_view kLegacyHotkeyKeyLabel = "hotkeyKeyLabel";
  static constexpr std::string_view kLegacyRefineHotkeyKeyCode = "refineHotkeyKeyCode";
  static constexpr std::string_view kLegacyRefineHotkeyModifiers = "refineHotkeyModifiers";
  static constexpr std::string_view kLegacyRefineHotkeyKeyLabel = "refineHotkeyKeyLabel";

  static constexpr std::string_view kDefaultAccent = "uk";
  static constexpr double kDefaultPronunciationVolume = 0.5;

  AppSettings(platform::UserDefaults& defaults, const platform::SystemInfo& system);

  platform::UserDefaults& defaults() const { return defaults_; }

  // The stored target-language code, or the system default language when none is stored.
  std::string targetLanguage() const;
  // "uk" or "us"; "uk" when none is stored.
  std::string accent() const;
  // The stored value when it is a bool; true otherwise (also when a value of another type is stored).
  bool autoPlayPronunciation() const;
  // The stored volume read as a number and clamped to 0...1; 0.5 when absent (or NaN).
  double pronunciationVolume() const;
  // The stored refine prompt, or defaultRefinePrompt() when none is stored.
  std::string refinePrompt() const;
  bool hasCompletedOnboarding() const;

  // Moves the hot keys of earlier versions into the named shortcuts "translate" and "refine", once: the
  // first call marks the migration done before anything else, later calls do nothing. The legacy keys are
  // removed whether or not they gave a shortcut. A legacy hot key without modifiers is not migrated
  // (it would take the key away from every application); the name keeps its shortcut. Needs the
  // shortcuts package's environment; call before the hot-key handlers are registered.
  void migrateLegacyHotkeys();

  // The first of the system's preferred languages found in the language table, taken on first use and
  // kept for the life of the object (later changes of the system's languages are not followed).
  const std::string& systemDefaultLanguage() const;

  // The backend's base address, fixed when the program is built.
  static std::string_view defaultServerURL();
  // The refine prompt used wherever none is stored (ten lines, no line feed after the last).
  static const std::string& defaultRefinePrompt();
  // The default prompt of the versions that stored "refinePromptV3".
  static const std::string& defaultRefinePromptV3();

 private:
  // The default prompt of the versions that stored "refinePromptV4".
  static const std::string& defaultRefinePromptV4();
  void migrateRefinePrompt();
  std::optional<GlobalShortcuts::Shortcut> legacyShortcut(std::string_view codeKey,
                                                          std::string_view modifiersKey) const;

  platform::UserDefaults& defaults_;
  const platform::SystemInfo& system_;
  mutable std::optional<std::string> systemDefaultLanguage_;
};

}  // namespace quorvelle
