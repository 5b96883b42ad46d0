#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "DiziZoz/core/DiziZozLogRecord.h"

namespace dizizoz {

// A logs before-send hook held by reference, for callers that keep their hooks as objects.
class BoxedBeforeSendLogBlock {
 public:
  using Block = std::function<std::optional<DiziZozLogRecord>(DiziZozLogRecord)>;

  explicit BoxedBeforeSendLogBlock(Block block) : block(std::move(block)) {}

  const Block block;
};

}  // namespace dizizoz
