#pragma once

#include "app/AppSettings.h"
#include "app/GeminiKeyManager.h"
#include "platform/Accessibility.h"
#include "platform/MainExecutor.h"
#include "platform/NotificationCenter.h"
#include "platform/Workspace.h"

namespace quorvelle {

// What the program's windows use of the application core and the system, made once by the program and
// handed to every window it opens. Every reference must outlive the windows.
struct WindowServices {
  AppSettings& settings;
  const GeminiKeyManager& geminiKey;
  platform::Accessibility& accessibility;
  platform::Workspace& workspace;
  // The default center: the application's notifications and the toolkit's application notifications.
  platform::NotificationCenter& notifications;
  platform::MainExecutor& executor;
};

}  // namespace quorvelle
