#pragma once

#include <memory>
#include <string>

namespace platform {

// Plays one recording from an address (streamed as it loads). Destroying the player stops it. Main
// thread only.
class AudioPlayer {
 public:
  virtual ~AudioPlayer() = default;
  // 0 (silent) to 1 (full).
  virtual void setVolume(float volume) = 0;
  virtual void play() = 0;
  virtual void pause() = 0;
};

class AudioPlayerFactory {
 public:
  virtual ~AudioPlayerFactory() = default;
  // A player for the recording at `url`; loading failures only mean that nothing is heard.
  virtual std::unique_ptr<AudioPlayer> makePlayer(const std::string& url) = 0;
};

}  // namespace platform
