#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace dizizoz {

// The last transform every built item (an event, a log record) passes before it is queued. A block may
// change the item or return nothing to drop it.
//
// Thread-safe. The lock only guards the exchange of the composed block: set() during a run does not
// affect that run, and the blocks themselves run on the caller's thread with no lock held.
template <typename Item>
class BeforeSendChain {
 public:
  using Block = std::function<std::optional<Item>(Item)>;

  BeforeSendChain()
      : block_(std::make_shared<const Block>([](Item item) { return std::optional(std::move(item)); })) {}

  // Replaces the whole chain: the blocks run in list order, each on the result of the one before, and
  // the first that returns nothing drops the item (the later ones are not called). An empty list passes
  // items through unchanged. Empty functions in the list are skipped.
  void set(std::vector<Block> blocks) {
    auto composed =
        std::make_shared<const Block>([blocks = std::move(blocks)](Item item) -> std::optional<Item> {
          std::optional<Item> current(std::move(item));
          for (const auto& block : blocks) {
            if (!block) continue;
            current = block(std::move(*current));
            if (!current) return std::nullopt;
          }
          return current;
        });
    std::lock_guard lock(lock_);
    block_ = std::move(composed);
  }

  // Runs the chain on `item`; nothing means the item is dropped.
  std::optional<Item> run(Item item) const {
    std::shared_ptr<const Block> block;
    {
      std::lock_guard lock(lock_);
      block = block_;
    }
    return (*block)(std::move(item));
  }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const Block> block_;
};

}  // namespace dizizoz
