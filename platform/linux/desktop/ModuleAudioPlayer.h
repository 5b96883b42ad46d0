#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/AudioPlayer.h"

namespace platform {

// The program's player: the real one (a decoder and the sound server's client) lives in the audio
// module (AudioModule.h), which is opened and asked for its player when the first source is set. Until
// then those libraries, their threads and their memory cost nothing; pause() and the volume are kept
// without loading anything. A module that cannot be opened is logged once and the player stays silent.
// Main thread only.
class ModuleAudioPlayer final : public AudioPlayer {
 public:
  explicit ModuleAudioPlayer(std::filesystem::path module);
  ~ModuleAudioPlayer() override;
  ModuleAudioPlayer(const ModuleAudioPlayer&) = delete;
  ModuleAudioPlayer& operator=(const ModuleAudioPlayer&) = delete;

  void setSource(const std::string& url) override;
  void setVolume(float volume) override;
  void play() override;
  void pause() override;

  // True once the module has given its player.
  bool isLoaded() const { return player_ != nullptr; }

 private:
  std::filesystem::path module_;
  bool tried_ = false;
  std::unique_ptr<AudioPlayer> player_;
  std::optional<float> volume_;
};

}  // namespace platform
