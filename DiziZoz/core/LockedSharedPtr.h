#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>

namespace dizizoz {

// A shared_ptr field that threads read while another replaces it (an option that set-up fills in and
// close() takes away). Every access takes the field's own lock for the copy only; a reader gets a reference
// of its own, so the object stays alive for as long as it uses it, whatever the writer does meanwhile.
template <typename T>
class LockedSharedPtr {
 public:
  LockedSharedPtr() = default;
  LockedSharedPtr(const LockedSharedPtr&) = delete;
  LockedSharedPtr& operator=(const LockedSharedPtr&) = delete;

  LockedSharedPtr& operator=(std::shared_ptr<T> value) {
    {
      std::lock_guard lock(lock_);
      value_.swap(value);
    }
    // The old object goes here, without the lock: its destructor may read this field.
    return *this;
  }
  LockedSharedPtr& operator=(std::nullptr_t) { return *this = std::shared_ptr<T>(); }

  std::shared_ptr<T> load() const {
    std::lock_guard lock(lock_);
    return value_;
  }
  // The reference lives until the end of the full expression: `field->call()` is safe.
  std::shared_ptr<T> operator->() const { return load(); }
  explicit operator bool() const { return load() != nullptr; }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<T> value_;  // lock_
};

}  // namespace dizizoz
