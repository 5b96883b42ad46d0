#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quorvelle::test {

// Root reads every file whatever its mode: while this lives, the calling thread gives up the
// capabilities that allow that (a no-op for other users), so a mode-000 file cannot be opened. Threads
// started meanwhile inherit the reduced set and keep it.
class WithoutReadOverride {
 public:
  WithoutReadOverride() {
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    changed_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutReadOverride() {
    if (changed_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutReadOverride(const WithoutReadOverride&) = delete;
  WithoutReadOverride& operator=(const WithoutReadOverride&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool changed_ = false;
};

}  // namespace quorvelle::test
