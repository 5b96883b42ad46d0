#include "DiziZoz/delivery/DiziZozQueueFileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "DiziZoz/core/DiziZozStorage.h"

namespace dizizoz {
namespace fs = std::filesystem;
namespace {

class QueueFileErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "dizizoz.queueFile"; }
  std::string message(int value) const override {
    switch (static_cast<DiziZozQueueFileError>(value)) {
      case DiziZozQueueFileError::notARegularFile:
        return "not a regular file";
      case DiziZozQueueFileError::tooLarge:
        return "larger than a record may be";
    }
    return "unknown error";
  }
};

std::error_code lastError() {
  return {errno, std::generic_category()};
}

std::optional<std::chrono::nanoseconds> toNanoseconds(const struct statx_timestamp& time) {
  return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
}

class SystemQueueFileAccess final : public DiziZozQueueFileAccess {
 public:
  std::error_code createDirectories(const fs::path& folder) override {
    std::error_code ec;
    fs::create_directories(folder, ec);
    return ec;
  }

  std::error_code list(const fs::path& folder, std::vector<std::string>& names) override {
    names.clear();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      names.push_back(it->path().filename().string());
    }
    if (ec) names.clear();
    return ec;
  }

  Status status(const fs::path& path) override {
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_BTIME | STATX_MTIME, &info) !=
        0) {
      return {.kind = errno == ENOENT || errno == ENOTDIR ? Kind::missing : Kind::other};
    }
    Status status;
    if (S_ISREG(info.stx_mode)) {
      status.kind = Kind::regular;
    } else if (S_ISDIR(info.stx_mode)) {
      status.kind = Kind::directory;
    } else {
      status.kind = Kind::other;
    }
    if (info.stx_mask & STATX_BTIME) {
      status.createdAt = toNanoseconds(info.stx_btime);
    } else if (info.stx_mask & STATX_MTIME) {
      status.createdAt = toNanoseconds(info.stx_mtime);
    }
    return status;
  }

  std::error_code read(const fs::path& path, std::size_t maxBytes, std::string& contents) override {
    contents.clear();
    // Checked before opening, so that nothing but a regular file is ever opened (opening a device may do
    // something); checked again on the descriptor, which is what is read.
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0) return lastError();
    if (!S_ISREG(before.st_mode)) return DiziZozQueueFileError::notARegularFile;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? std::error_code(DiziZozQueueFileError::notARegularFile) : lastError();
    std::error_code ec;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      ec = lastError();
    } else if (!S_ISREG(info.st_mode)) {
      ec = DiziZozQueueFileError::notARegularFile;
    } else if (static_cast<std::size_t>(info.st_size) > maxBytes) {
      ec = DiziZozQueueFileError::tooLarge;
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
          ec = DiziZozQueueFileError::tooLarge;
          break;
        }
        contents.append(chunk.data(), static_cast<std::size_t>(n));
      }
      if (ec) contents.clear();
    }
    ::close(fd);
    return ec;
  }

  std::error_code write(const fs::path& path, const fs::path& temporary, std::string_view bytes) override {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return lastError();
    std::error_code ec = writeAll(fd, bytes);
    // No fsync: records must survive the death of the process, which the page cache already gives, and a
    // flush per record would cost milliseconds on every capture. After a power loss a record may be
    // empty; it then decodes to nothing and is dropped.
    if (::close(fd) != 0 && !ec) ec = lastError();
    if (!ec && ::rename(temporary.c_str(), path.c_str()) != 0) ec = lastError();
    if (ec) ::unlink(temporary.c_str());
    return ec;
  }

  std::error_code move(const fs::path& from, const fs::path& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return lastError();
    return {};
  }

  std::error_code remove(const fs::path& path) override {
    std::error_code ec;
    fs::remove_all(path, ec);
    return ec;
  }
};

}  // namespace

const std::error_category& queueFileErrorCategory() {
  static const QueueFileErrorCategory category;
  return category;
}

std::error_code make_error_code(DiziZozQueueFileError error) {
  return {static_cast<int>(error), queueFileErrorCategory()};
}

DiziZozQueueFileAccess& DiziZozQueueFileAccess::system() {
  static auto* files = new SystemQueueFileAccess;
  return *files;
}

}  // namespace dizizoz
