#include "platform/fake/RecordingKeystrokeSender.h"

#include <utility>

namespace platform::fake {

void RecordingKeystrokeSender::send(const Keystroke& keystroke, Job posted) {
  if (holdKeys) {
    held_.push_back({keystroke, std::move(posted)});
    return;
  }
  post(keystroke, posted);
}

void RecordingKeystrokeSender::releaseKeys() {
  auto held = std::exchange(held_, {});
  for (const auto& pending : held) post(pending.keystroke, pending.posted);
}

void RecordingKeystrokeSender::post(const Keystroke& keystroke, const Job& posted) {
  sent.push_back(keystroke);
  if (onSend) onSend(keystroke);
  if (posted) posted();
}

}  // namespace platform::fake
