#include "DiziZoz/core/DiziZozLogsConfig.h"

#include "DiziZoz/core/DiziZozConfig.h"

namespace dizizoz {

void DiziZozLogsConfig::setBeforeSend(const std::vector<std::shared_ptr<BoxedBeforeSendLogBlock>>& boxed) {
  std::vector<BeforeSendBlock> blocks;
  blocks.reserve(boxed.size());
  for (const auto& box : boxed) {
    if (box) blocks.push_back(box->block);
  }
  setBeforeSend(std::move(blocks));
}

std::optional<DiziZozLogRecord> DiziZozLogsConfig::runBeforeSend(DiziZozLogRecord record) const {
  auto result = beforeSend_.run(std::move(record));
  // Blanking the body is how a hook that cannot return nothing drops a record.
  if (!result || trimmedWhitespace(result->body).empty()) return std::nullopt;
  return result;
}

}  // namespace dizizoz
