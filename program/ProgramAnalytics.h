#pragma once

#include <memory>

#include "DiziZoz/core/DiziZozServices.h"
#include "program/AnalyticsThreads.h"

namespace platform {
class HttpClient;
class KeyWindowScreen;
class MainExecutor;
class NotificationCenter;
class UserDefaults;
}  // namespace platform

namespace quorvelle {

// What the analytics client runs on in the program.
struct ProgramAnalyticsParts {
  // The program's one transport, shared with the backend client; must outlive the client's work: close
  // the client and end `threads` before it ends.
  platform::HttpClient& http;
  AnalyticsThreads& threads;
  std::shared_ptr<platform::MainExecutor> mainExecutor;
  std::shared_ptr<platform::NotificationCenter> notificationCenter;
  std::shared_ptr<const platform::KeyWindowScreen> keyWindowScreen;
};

// The services record of the program's analytics client: the API client over `http` with its completions
// on a queue of their own, remote configuration and flags, reachability over NetworkManager when it owns its
// name on the system bus and the kernel's routing table otherwise, the file-backed upload queues, the
// host's facts, the key window's screen, and the Qt main executor. No push handler: a Linux desktop
// receives no remote notifications. Error tracking's services stay out: its option is off.
dizizoz::DiziZozServices programAnalyticsServices(const ProgramAnalyticsParts& parts);

// Installs that record for DiziZozSDK::shared() and registers the automatic integrations, whose
// life-cycle events remember the version and build in `standardDefaults`. Call once, on the main thread,
// before anything asks for DiziZozSDK::shared().
void installProgramAnalytics(const ProgramAnalyticsParts& parts,
                             std::shared_ptr<platform::UserDefaults> standardDefaults);

}  // namespace quorvelle
