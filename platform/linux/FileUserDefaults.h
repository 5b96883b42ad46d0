#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/SerialQueue.h"
#include "platform/UserDefaults.h"

namespace platform {

// UserDefaults persisted as one JSON file (by default "$XDG_CONFIG_HOME/quorvelle/settings.json").
//
// The file is read once, when the object is made. Changes are in memory at once (every reader in the
// process sees them at once) and reach the file later, off the caller's thread: a change asks the writer
// queue for a write kCoalesceDelay later, and every change made until that write starts goes into it, so
// a burst of changes (the five settings a keystroke in the settings window stores) costs one write. Each
// write goes through a temporary file in the same folder that is flushed and renamed into place, so a
// crash leaves the old or the new file, never half of one; the file always holds the values of one moment,
// in the order they changed. synchronize() asks for a write at once without waiting for it; flush() waits
// until everything set so far is on disk, and the destructor flushes, so that nothing set before the end
// (quit, or a quit signal the program turns into a quit) is lost.
//
// Each value is stored with its type, one-member objects such as {"bool":false}, {"int":3},
// {"double":0.5}, {"string":"x"}, {"data":"<base64>"}, {"array":[...]}, {"dict":{...}}, so every type reads
// back exactly after a restart.
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
  // How long a change waits for the changes that follow it before the file is written.
  static constexpr std::chrono::milliseconds kCoalesceDelay{100};

  // Writes run on `writer` when one is given (it must outlive this object), else on a thread of the
  // store's own.
  explicit FileUserDefaults(std::filesystem::path file = defaultFile(), SerialQueue* writer = nullptr);
  ~FileUserDefaults() override;
  FileUserDefaults(const FileUserDefaults&) = delete;
  FileUserDefaults& operator=(const FileUserDefaults&) = delete;

  // "$XDG_CONFIG_HOME/quorvelle/settings.json", with XDG_CONFIG_HOME defaulting to "$HOME/.config".
  static std::filesystem::path defaultFile();

  std::optional<DefaultsValue> objectForKey(std::string_view key) const override;
  void set(std::string_view key, DefaultsValue value) override;
  void remove(std::string_view key) override;
  DefaultsValue::Dictionary dictionaryRepresentation() const override;
  // Asks for what was set to be written now rather than after the delay; does not wait.
  void synchronize() override;
  // Returns once everything set so far is in the file (or its write failed). The write still runs on the
  // writer queue; the caller waits for it.
  void flush();

  // Called on the thread that wrote the file, after each write that reached it: for tests that check
  // where and how often the file is written.
  void setWriteObserver(std::function<void()> observer);

  const std::filesystem::path& file() const;

 private:
  struct Core;

  void scheduleLocked(SerialQueue::Duration delay);

  std::shared_ptr<Core> core_;
  std::unique_ptr<SerialQueue> ownWriter_;
  SerialQueue* writer_;
};

}  // namespace platform
