#pragma once

namespace platform {

// The program's updater. Main thread only.
class Updater {
 public:
  virtual ~Updater() = default;

  virtual void startUpdater() = 0;
  // A check the user asked for; it reports its outcome to the user, also when there is nothing new.
  virtual void checkForUpdates() = 0;
  virtual bool automaticallyChecksForUpdates() const = 0;
  // A quiet check that speaks up only when an update is found.
  virtual void checkForUpdatesInBackground() = 0;
};

}  // namespace platform
