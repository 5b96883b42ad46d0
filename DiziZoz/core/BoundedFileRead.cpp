#include "DiziZoz/core/BoundedFileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace dizizoz {
namespace {

class FileErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "dizizoz.file"; }
  std::string message(int value) const override {
    switch (static_cast<DiziZozFileError>(value)) {
      case DiziZozFileError::notARegularFile:
        return "not a regular file";
      case DiziZozFileError::tooLarge:
        return "over the size cap";
    }
    return "unknown error";
  }
};

std::error_code lastError() {
  return {errno, std::generic_category()};
}

}  // namespace

const std::error_category& fileErrorCategory() {
  static const FileErrorCategory category;
  return category;
}

std::error_code make_error_code(DiziZozFileError error) {
  return {static_cast<int>(error), fileErrorCategory()};
}

std::error_code readRegularFile(const std::filesystem::path& path, std::size_t maxBytes,
                                std::string& contents) {
  contents.clear();
  // Checked before opening, so that nothing but a regular file is ever opened (opening a device may do
  // something); checked again on the descriptor, which is what is read.
  struct stat before {};
  if (::lstat(path.c_str(), &before) != 0) return lastError();
  if (!S_ISREG(before.st_mode)) return DiziZozFileError::notARegularFile;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? std::error_code(DiziZozFileError::notARegularFile) : lastError();
  std::error_code ec;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ec = lastError();
  } else if (!S_ISREG(info.st_mode)) {
    ec = DiziZozFileError::notARegularFile;
  } else if (static_cast<std::size_t>(info.st_size) > maxBytes) {
    ec = DiziZozFileError::tooLarge;
  } else {
    contents.reserve(static_cast<std::size_t>(info.st_size));
    std::array<char, 16 * 1024> chunk;
    for (;;) {
      const ssize_t n = ::read(fd, chunk.data(), chunk.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        ec = lastError();
        break;
      }
      if (n == 0) break;
      // The file may have grown since fstat.
      if (contents.size() + static_cast<std::size_t>(n) > maxBytes) {
        ec = DiziZozFileError::tooLarge;
        break;
      }
      contents.append(chunk.data(), static_cast<std::size_t>(n));
    }
    if (ec) contents.clear();
  }
  ::close(fd);
  return ec;
}

}  // namespace dizizoz
