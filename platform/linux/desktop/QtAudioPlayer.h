#pragma once

#include "platform/AudioPlayer.h"

namespace platform {

// Players over QMediaPlayer with an audio output of their own; the source streams as it loads. A source
// that cannot be played is only logged. Needs a QGuiApplication and, at run time, GStreamer's base
// plugins. Main thread only.
class QtAudioPlayerFactory final : public AudioPlayerFactory {
 public:
  std::unique_ptr<AudioPlayer> makePlayer(const std::string& url) override;
};

}  // namespace platform
