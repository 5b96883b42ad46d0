#pragma once

#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozExceptionStepsBuffering.h"

namespace dizizoz::test {

// An exception-steps buffer that holds fixed steps and takes no new ones.
class FixedStepsBuffer final : public DiziZozExceptionStepsBuffering {
 public:
  explicit FixedStepsBuffer(std::vector<Properties> steps) : steps_(std::move(steps)) {}
  bool add(const Properties&) override { return false; }
  std::vector<Properties> getAttachable() const override { return steps_; }
  void clear() override {}

 private:
  std::vector<Properties> steps_;
};

}  // namespace dizizoz::test
