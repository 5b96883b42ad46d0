#pragma once

#include <filesystem>
#include <mutex>

#include "platform/UserDefaults.h"

namespace platform {

// UserDefaults persisted as one JSON file (by default "$XDG_CONFIG_HOME/quorvelle/settings.json").
//
// The file is read once, when the object is made; every set()/remove() rewrites it through a temporary
// file in the same folder that is flushed and renamed into place, so a crash leaves the old or the new
// file, never half of one. Each value is stored with its type, one-member objects such as
// {"bool":false}, {"int":3}, {"double":0.5}, {"string":"x"}, {"data":"<base64>"}, {"array":[...]},
// {"dict":{...}}, so every type reads back exactly after a restart.
//
// A file whose content is not a settings object (malformed JSON, values without their type, arrays and
// objects nested deeper than platform::maxJsonDepth) is renamed to "<name>.corrupt-<UTC timestamp>" next
// to it, a warning is logged and the store starts empty. If it cannot even be moved aside, the store
// still starts empty but never writes, so the bad file is not overwritten. A file that cannot be read
// (permissions, I/O errors, not a regular file) is not corrupt: it stays where it is, untouched, and the
// store runs on defaults kept in memory only, saying so once in the log. Write failures are logged and
// the values stay in memory.
//
// Saves killed between creating their temporary file and renaming it leave the temporary behind: the
// constructor removes those of this file (".<name>.XXXXXX" beside it) that are older than the running
// process. Thread-safe.
class FileUserDefaults final : public UserDefaults {
 public:
  explicit FileUserDefaults(std::filesystem::path file = defaultFile());

  // "$XDG_CONFIG_HOME/quorvelle/settings.json", with XDG_CONFIG_HOME defaulting to "$HOME/.config".
  static std::filesystem::path defaultFile();

  std::optional<DefaultsValue> objectForKey(std::string_view key) const override;
  void set(std::string_view key, DefaultsValue value) override;
  void remove(std::string_view key) override;
  DefaultsValue::Dictionary dictionaryRepresentation() const override;

  const std::filesystem::path& file() const { return file_; }

 private:
  // The file that saves replace: the settings file, or what it links to.
  std::filesystem::path target() const;
  void removeStaleTemporaries();
  void load();
  void moveAside(const std::string& reason);
  void saveLocked();

  const std::filesystem::path file_;
  mutable std::mutex mutex_;
  DefaultsValue::Dictionary values_;
  bool writable_ = true;
};

}  // namespace platform
