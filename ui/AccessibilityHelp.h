#pragma once

namespace quorvelle {

// What a user can do on Linux when the program lacks the accessibility permission, which no settings
// page grants there: the permission comes with an X11 session that offers synthetic keystrokes. Shown by
// the onboarding's permission step and the settings window's accessibility bar.
inline constexpr const char* kAccessibilityHowTo =
    "Log out, choose an Xorg (X11) session \u2192 log in, then start Quorvelle again.";

}  // namespace quorvelle
