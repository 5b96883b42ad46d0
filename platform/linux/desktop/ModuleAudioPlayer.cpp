#include "platform/linux/desktop/ModuleAudioPlayer.h"

#include <string>

#include "platform/Log.h"
#include "platform/linux/SharedLibrary.h"
#include "platform/linux/desktop/AudioModule.h"

namespace platform {

ModuleAudioPlayer::ModuleAudioPlayer(std::filesystem::path module) : module_(std::move(module)) {}

ModuleAudioPlayer::~ModuleAudioPlayer() = default;

void ModuleAudioPlayer::setSource(const std::string& url) {
  if (!tried_) {
    tried_ = true;
    std::string error;
    const auto library = SharedLibrary::open(module_.string(), error);
    const auto create = library ? reinterpret_cast<audio_module::CreatePlayer>(
                                      library->symbol(audio_module::kCreateSymbol, error))
                                : nullptr;
    if (create == nullptr) {
      log(LogLevel::error, "AudioPlayer: no pronunciation playback, the audio module did not load: " + error);
      return;
    }
    player_.reset(create(&platform::log));
    if (volume_) player_->setVolume(*volume_);
  }
  if (player_) player_->setSource(url);
}

void ModuleAudioPlayer::setVolume(float volume) {
  volume_ = volume;
  if (player_) player_->setVolume(volume);
}

void ModuleAudioPlayer::play() {
  if (player_) player_->play();
}

void ModuleAudioPlayer::pause() {
  if (player_) player_->pause();
}

}  // namespace platform
