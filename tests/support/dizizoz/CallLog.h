#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace dizizoz::test {

// An ordered list of named calls, appended from any thread.
class CallLog {
 public:
  void add(std::string entry) {
    std::lock_guard lock(lock_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> entries() const {
    std::lock_guard lock(lock_);
    return entries_;
  }
  void clear() {
    std::lock_guard lock(lock_);
    entries_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> entries_;
};

}  // namespace dizizoz::test
