#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/BundleInfo.h"

namespace platform::fake {

// BundleInfo over a map chosen by the test.
class MapBundleInfo final : public BundleInfo {
 public:
  explicit MapBundleInfo(std::map<std::string, std::string, std::less<>> values = {})
      : values_(std::move(values)) {}
  std::optional<std::string> infoValue(std::string_view key) const override {
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace platform::fake
