#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "DiziZoz/delivery/DiziZozQueueFileAccess.h"

namespace dizizoz::test {

// The system's queue files with failures and creation times chosen by the test. A rule names an
// operation and a file name (the last part of the path; "*" for any) and makes every matching call fail
// with its error until it is cleared; everything else goes to the real files.
class FaultyQueueFileAccess final : public DiziZozQueueFileAccess {
 public:
  enum class Operation { createDirectories, list, status, read, write, move, remove };

  void fail(Operation operation, std::string fileName, std::error_code error) {
    std::lock_guard lock(lock_);
    rules_[{operation, std::move(fileName)}] = error;
  }
  void fail(Operation operation, std::string fileName, std::errc error) {
    fail(operation, std::move(fileName), std::make_error_code(error));
  }
  void heal() {
    std::lock_guard lock(lock_);
    rules_.clear();
  }
  // What status() reports as the creation time of `fileName`; nothing reports it as unreadable.
  void setCreatedAt(std::string fileName, std::optional<std::chrono::nanoseconds> createdAt) {
    std::lock_guard lock(lock_);
    createdAt_[std::move(fileName)] = createdAt;
  }
  // The calls that failed by a rule, as "<operation> <file name>".
  std::vector<std::string> failures() const {
    std::lock_guard lock(lock_);
    return failures_;
  }

  std::error_code createDirectories(const std::filesystem::path& folder) override {
    if (auto ec = rule(Operation::createDirectories, folder)) return ec;
    return real().createDirectories(folder);
  }
  std::error_code list(const std::filesystem::path& folder, std::vector<std::string>& names) override {
    if (auto ec = rule(Operation::list, folder)) return ec;
    return real().list(folder, names);
  }
  Status status(const std::filesystem::path& path) override {
    if (rule(Operation::status, path)) return {.kind = Kind::other};
    Status status = real().status(path);
    std::lock_guard lock(lock_);
    if (auto it = createdAt_.find(path.filename().string()); it != createdAt_.end()) {
      status.createdAt = it->second;
    }
    return status;
  }
  std::error_code read(const std::filesystem::path& path, std::size_t maxBytes,
                       std::string& contents) override {
    if (auto ec = rule(Operation::read, path)) return ec;
    return real().read(path, maxBytes, contents);
  }
  std::error_code write(const std::filesystem::path& path, const std::filesystem::path& temporary,
                        std::string_view bytes) override {
    if (auto ec = rule(Operation::write, path)) return ec;
    return real().write(path, temporary, bytes);
  }
  std::error_code move(const std::filesystem::path& from, const std::filesystem::path& to) override {
    if (auto ec = rule(Operation::move, from)) return ec;
    return real().move(from, to);
  }
  std::error_code remove(const std::filesystem::path& path) override {
    if (auto ec = rule(Operation::remove, path)) return ec;
    return real().remove(path);
  }

 private:
  static DiziZozQueueFileAccess& real() { return DiziZozQueueFileAccess::system(); }
  static const char* operationName(Operation operation) {
    switch (operation) {
      case Operation::createDirectories:
        return "createDirectories";
      case Operation::list:
        return "list";
      case Operation::status:
        return "status";
      case Operation::read:
        return "read";
      case Operation::write:
        return "write";
      case Operation::move:
        return "move";
      case Operation::remove:
        return "remove";
    }
    return "?";
  }

  std::error_code rule(Operation operation, const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    std::lock_guard lock(lock_);
    auto it = rules_.find({operation, name});
    if (it == rules_.end()) it = rules_.find({operation, "*"});
    if (it == rules_.end()) return {};
    failures_.push_back(std::string(operationName(operation)) + " " + name);
    return it->second;
  }

  mutable std::mutex lock_;
  std::map<std::pair<Operation, std::string>, std::error_code> rules_;
  std::map<std::string, std::optional<std::chrono::nanoseconds>> createdAt_;
  std::vector<std::string> failures_;
};

}  // namespace dizizoz::test
