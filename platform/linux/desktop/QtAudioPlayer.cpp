#include "platform/linux/desktop/QtAudioPlayer.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>

#include "platform/Log.h"

namespace platform {
namespace {

class QtAudioPlayer final : public AudioPlayer {
 public:
  explicit QtAudioPlayer(const std::string& url) {
    player_.setAudioOutput(&output_);
    QObject::connect(&player_, &QMediaPlayer::errorOccurred, [](QMediaPlayer::Error, const QString& message) {
      log(LogLevel::warning, "AudioPlayer: cannot play the recording: " + message.toStdString());
    });
    player_.setSource(QUrl(QString::fromStdString(url)));
  }
  ~QtAudioPlayer() override { player_.stop(); }

  void setVolume(float volume) override { output_.setVolume(std::clamp(volume, 0.0f, 1.0f)); }
  void play() override { player_.play(); }
  void pause() override { player_.pause(); }

 private:
  QAudioOutput output_;
  QMediaPlayer player_;
};

}  // namespace

std::unique_ptr<AudioPlayer> QtAudioPlayerFactory::makePlayer(const std::string& url) {
  return std::make_unique<QtAudioPlayer>(url);
}

}  // namespace platform
