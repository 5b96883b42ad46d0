#pragma once

#include <string_view>

namespace platform::notifications {

// Application and window notifications that the program posts on NotificationCenter::defaultCenter(),
// on the main thread, when its toolkit reports the matching change. They carry no user info.
inline constexpr std::string_view applicationDidFinishLaunching =
    "NSApplicationDidFinishLaunchingNotification";
inline constexpr std::string_view applicationDidBecomeActive = "NSApplicationDidBecomeActiveNotification";
// The application stopped being the active one (another application's window took the focus).
inline constexpr std::string_view applicationDidResignActive = "NSApplicationDidResignActiveNotification";
inline constexpr std::string_view windowDidBecomeKey = "NSWindowDidBecomeKeyNotification";
inline constexpr std::string_view windowDidChangeScreen = "NSWindowDidChangeScreenNotification";

}  // namespace platform::notifications
