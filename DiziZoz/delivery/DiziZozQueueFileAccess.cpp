#include "DiziZoz/delivery/DiziZozQueueFileAccess.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "DiziZoz/core/DiziZozStorage.h"

namespace dizizoz {
namespace fs = std::filesystem;
namespace {

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
    // The bare names straight from the directory: a queue may list tens of thousands at start.
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return lastError();
    std::error_code ec;
    while (true) {
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (!entry) {
        if (errno != 0) ec = lastError();
        break;
      }
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      names.emplace_back(name);
    }
    ::closedir(dir);
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
    return readRegularFile(path, maxBytes, contents);
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

DiziZozQueueFileAccess& DiziZozQueueFileAccess::system() {
  static auto* files = new SystemQueueFileAccess;
  return *files;
}

}  // namespace dizizoz
