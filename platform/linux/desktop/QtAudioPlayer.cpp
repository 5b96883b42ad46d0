// The audio module: the player over QMediaPlayer, built as a module of its own (AudioModule.h) so that
// the multimedia libraries load only with the first pronunciation.
#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#include <algorithm>

#include "platform/Log.h"
#include "platform/linux/desktop/AudioModule.h"

namespace platform {
namespace {

// One QMediaPlayer with an audio output of its own; each source replaces the one before. A source that
// cannot be played is only logged. Needs GStreamer's base plugins at run time. Main thread only.
class QtAudioPlayer final : public AudioPlayer {
 public:
  QtAudioPlayer() {
    player_.setAudioOutput(&output_);
    QObject::connect(&player_, &QMediaPlayer::errorOccurred, [](QMediaPlayer::Error, const QString& message) {
      log(LogLevel::warning, "AudioPlayer: cannot play the recording: " + message.toStdString());
    });
  }
  ~QtAudioPlayer() override { player_.stop(); }

  // Stops what plays: a new source, or the same one again, starts from its beginning.
  void setSource(const std::string& url) override {
    player_.stop();
    player_.setSource(QUrl(QString::fromStdString(url)));
  }
  void setVolume(float volume) override { output_.setVolume(std::clamp(volume, 0.0f, 1.0f)); }
  void play() override { player_.play(); }
  void pause() override { player_.pause(); }

 private:
  QAudioOutput output_;
  QMediaPlayer player_;
};

}  // namespace
}  // namespace platform

extern "C" __attribute__((visibility("default"))) platform::AudioPlayer* quorvelle_create_audio_player() {
  return new platform::QtAudioPlayer();
}
