#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/AudioPlayer.h"

namespace platform::fake {

// A player that only records what was asked of it.
class RecordingAudioPlayer final : public AudioPlayer {
 public:
  void setSource(const std::string& url) override {
    sources.push_back(url);
    playing = false;
  }
  void setVolume(float v) override { volume = v; }
  void play() override {
    ++plays;
    playing = !sources.empty();
    if (onPlay) onPlay();
  }
  void pause() override {
    ++pauses;
    playing = false;
  }

  // Every source set, in order.
  std::vector<std::string> sources;
  float volume = 1.0f;
  int plays = 0;
  int pauses = 0;
  // Audible now: a source started and not paused or replaced since.
  bool playing = false;
  // Called at each play(), for tests that check what was done before the sound started.
  std::function<void()> onPlay;
};

}  // namespace platform::fake
