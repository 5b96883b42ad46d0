#pragma once

#include <string>

namespace platform {

// Plays pronunciation recordings, one at a time: a new source replaces (and silences) the one before.
// A source is fetched at once and plays when play() asks; failures to fetch, decode or play it are logged
// and only mean that nothing is heard. Main thread only.
class AudioPlayer {
 public:
  virtual ~AudioPlayer() = default;
  // The recording at `url`, stopped until play().
  virtual void setSource(const std::string& url) = 0;
  // 0 (silent) to 1 (full).
  virtual void setVolume(float volume) = 0;
  virtual void play() = 0;
  // Does nothing when no source was ever set.
  virtual void pause() = 0;
};

}  // namespace platform
