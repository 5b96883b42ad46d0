#pragma once

#include <string>

namespace quorvelle {

// The user settings the popup reads, each with its default applied, read at the moment a step needs it.
// Main thread only.
class PopupSettings {
 public:
  virtual ~PopupSettings() = default;
  // The language code translations and refinements target; the system's preferred language when unset.
  virtual std::string targetLanguage() const = 0;
  // "uk" or "us"; "uk" when unset.
  virtual std::string accent() const = 0;
  // The user's refine prompt; the built-in prompt when unset.
  virtual std::string refinePrompt() const = 0;
  virtual bool autoPlayPronunciation() const = 0;
  // 0 to 1.
  virtual double pronunciationVolume() const = 0;
};

}  // namespace quorvelle
