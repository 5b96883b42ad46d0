#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "DiziZoz/core/BoundedFileRead.h"

namespace dizizoz {

// The file operations of the upload queues' record stores, as a seam: the system backend does the real
// work, and tests wrap it to make chosen operations fail with chosen errors (EACCES, EIO, ENOSPC...),
// which permissions cannot do for a test that runs as root.
//
// Every operation is synchronous, never throws and may be called from any thread at once.
class DiziZozQueueFileAccess {
 public:
  enum class Kind { missing, regular, directory, other };
  struct Status {
    Kind kind = Kind::missing;
    // When the item was created (its birth time, else its last modification), since 1970; nothing when
    // it cannot be read.
    std::optional<std::chrono::nanoseconds> createdAt{};
  };

  virtual ~DiziZozQueueFileAccess() = default;

  // Creates the folder and its missing parents; an existing folder is no error.
  virtual std::error_code createDirectories(const std::filesystem::path& folder) = 0;
  // The names of the folder's entries, hidden ones included, in no particular order.
  virtual std::error_code list(const std::filesystem::path& folder, std::vector<std::string>& names) = 0;
  // What is at `path`, without following a symbolic link.
  virtual Status status(const std::filesystem::path& path) = 0;
  // The whole content of a regular file of at most `maxBytes` bytes, by the rules of readRegularFile():
  // anything but a regular file fails with DiziZozFileError::notARegularFile, a longer file with tooLarge.
  virtual std::error_code read(const std::filesystem::path& path, std::size_t maxBytes,
                               std::string& contents) = 0;
  // Writes `bytes` as the file `path`, replacing it, all or nothing: the bytes go to `temporary` (a name
  // in the same folder) first, which is then renamed into place, so a crash of the process never leaves
  // a torn file under `path`. On failure `temporary` is removed; a crash may leave it behind.
  virtual std::error_code write(const std::filesystem::path& path, const std::filesystem::path& temporary,
                                std::string_view bytes) = 0;
  // Renames a file or folder, replacing a file at `to`.
  virtual std::error_code move(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // Removes a file, or a folder with everything in it; nothing there is no error.
  virtual std::error_code remove(const std::filesystem::path& path) = 0;

  // The system's files; never destroyed.
  static DiziZozQueueFileAccess& system();
};

}  // namespace dizizoz
