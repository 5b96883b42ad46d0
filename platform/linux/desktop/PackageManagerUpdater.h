#pragma once

#include "platform/AlertPresenter.h"
#include "platform/Updater.h"

namespace platform {

// Updates on this system come from the package manager that installed the program, not from a feed of
// the program's own: a check the user asks for says so; automatic checks are off. Main thread only.
class PackageManagerUpdater final : public Updater {
 public:
  explicit PackageManagerUpdater(AlertPresenter& alerts) : alerts_(alerts) {}

  void startUpdater() override {}
  void checkForUpdates() override;
  bool automaticallyChecksForUpdates() const override { return false; }
  void checkForUpdatesInBackground() override {}

 private:
  AlertPresenter& alerts_;
};

}  // namespace platform
