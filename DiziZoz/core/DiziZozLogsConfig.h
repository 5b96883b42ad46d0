#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DiziZoz/core/BeforeSendChain.h"
#include "DiziZoz/core/BoxedBeforeSendLogBlock.h"
#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

// Options of the structured-logs pipeline: batching of the logs queue, the rate cap, the service
// identity sent with every upload, and the logs before-send chain. Owned by DiziZozConfig (shared by
// reference). The options are plain fields with no lock and no validation on writing, read by the logs
// queue whenever it needs them; the chain is thread-safe.
class DiziZozLogsConfig {
 public:
  using BeforeSendBlock = BoxedBeforeSendLogBlock::Block;

  // The service name and version default to the bundle's identifier and short version.
  explicit DiziZozLogsConfig(const DiziZozBundleInfo& bundle = {})
      : serviceName(bundle.identifier.value_or(unknownBundleIdentifier)),
        serviceVersion(bundle.shortVersion.value_or("")) {}
  DiziZozLogsConfig(const DiziZozLogsConfig&) = delete;
  DiziZozLogsConfig& operator=(const DiziZozLogsConfig&) = delete;

  double flushIntervalSeconds = 30.0;
  int maxBufferSize = 1000;  // records
  int flushAt = 20;          // records
  int maxBatchSize = 50;     // records
  std::string serviceName;
  std::string serviceVersion;  // left out of the upload when empty
  std::optional<std::string> environment;
  // Extra resource attributes; the built-in ones win on equal keys.
  Properties resourceAttributes = Properties::object();
  // The logs endpoint hands on 0 (no cap) for 0 or less, and a window of 0 for a negative one.
  int rateCapMaxLogs = 500;
  double rateCapWindowSeconds = 10.0;

  // Each form replaces the whole chain (earlier hooks are discarded): the hooks run in order, each on the
  // record the one before returned, and the first that returns nothing drops the record.
  void setBeforeSend(std::vector<BeforeSendBlock> blocks) { beforeSend_.set(std::move(blocks)); }
  template <typename... Blocks>
  void setBeforeSend(BeforeSendBlock first, Blocks... rest) {
    setBeforeSend(std::vector<BeforeSendBlock>{std::move(first), BeforeSendBlock(std::move(rest))...});
  }
  void setBeforeSend(const std::vector<std::shared_ptr<BoxedBeforeSendLogBlock>>& boxed);

  // Runs the chain on a built record, with no lock held while the hooks run. Nothing means the record is
  // dropped: a hook returned nothing, or left a body that is empty after trimming white space and line
  // breaks. Any thread.
  std::optional<DiziZozLogRecord> runBeforeSend(DiziZozLogRecord record) const;

 private:
  BeforeSendChain<DiziZozLogRecord> beforeSend_;
};

}  // namespace dizizoz
