#pragma once

#include <cstddef>
#include <fstream>
#include <optional>
#include <string>

namespace quorvelle::test {

// How far the process's resident memory peaked above what it was when this was made: the kernel's
// high-water mark (VmHWM) is reset to the current resident size, and growth() reads how far it rose since.
// Counts every thread of the process. Nothing when the kernel does not let the mark be reset.
class PeakMemoryGrowth {
 public:
  PeakMemoryGrowth() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    const auto resident = statusKilobytes("VmRSS:");
    const auto peak = statusKilobytes("VmHWM:");
    // The reset worked when the mark now equals what is resident (give or take pages touched meanwhile).
    if (clear && resident && peak && *peak <= *resident + 1024) baseline_ = *resident;
  }

  std::optional<std::size_t> growthBytes() const {
    const auto peak = statusKilobytes("VmHWM:");
    if (!baseline_ || !peak) return std::nullopt;
    return *peak > *baseline_ ? (*peak - *baseline_) * 1024 : 0;
  }

 private:
  static std::optional<std::size_t> statusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with(field)) return std::stoull(line.substr(field.size()));
    }
    return std::nullopt;
  }

  std::optional<std::size_t> baseline_;
};

}  // namespace quorvelle::test
