#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"

namespace dizizoz::test {

// A fresh temporary folder with the client's store opened in it, removed with the object.
struct QueueTestFolder {
  explicit QueueTestFolder(const DiziZozConfig& config) {
    std::string pattern = (std::filesystem::temp_directory_path() / "dizizoz-queue-XXXXXX").string();
    folder = mkdtemp(pattern.data());
    DiziZozStorageLocation location;
    location.applicationSupport = folder;
    location.bundleIdentifier = "com.quorvelle.test";
    storage = DiziZozStorage::open(config, location);
  }
  ~QueueTestFolder() { std::filesystem::remove_all(folder); }
  QueueTestFolder(const QueueTestFolder&) = delete;
  QueueTestFolder& operator=(const QueueTestFolder&) = delete;

  std::filesystem::path folder;
  std::shared_ptr<DiziZozStorage> storage;
};

}  // namespace dizizoz::test
