#pragma once

#include <memory>

#include "platform/Workspace.h"

namespace platform {

// Opens addresses through QDesktopServices, and learns of wake-ups and of the session becoming active
// again from systemd-logind on the system bus (the manager's PrepareForSleep(false), and the Active
// property of this process's session turning true). Without a system bus or without logind it says so in
// the log once and posts nothing. Needs a QCoreApplication; main thread only.
class LogindWorkspace final : public Workspace {
 public:
  LogindWorkspace();
  ~LogindWorkspace() override;

  bool openURL(std::string_view url) override;
  NotificationCenter& notificationCenter() override { return center_; }

  // Whether logind's signals are being followed (for diagnostics and tests).
  bool watchesSleep() const;
  bool watchesSession() const;

 private:
  class Receiver;
  NotificationCenter center_;
  std::unique_ptr<Receiver> receiver_;
};

}  // namespace platform
