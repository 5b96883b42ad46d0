#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/AudioPlayer.h"

namespace platform::fake {

// Makes players that only record what was asked of them. The records outlive the players.
class RecordingAudioPlayerFactory final : public AudioPlayerFactory {
 public:
  struct Record {
    std::string url;
    float volume = 1.0f;
    int plays = 0;
    int pauses = 0;
    bool playing = false;
    bool destroyed = false;
    // Audible now: started, not paused since, not destroyed.
    bool isPlaying() const { return playing && !destroyed; }
  };

  std::unique_ptr<AudioPlayer> makePlayer(const std::string& url) override {
    auto record = std::make_shared<Record>();
    record->url = url;
    records.push_back(record);
    return std::make_unique<Player>(record);
  }

  // One per player made, in order.
  std::vector<std::shared_ptr<Record>> records;

 private:
  class Player final : public AudioPlayer {
   public:
    explicit Player(std::shared_ptr<Record> record) : record_(std::move(record)) {}
    ~Player() override { record_->destroyed = true; }
    void setVolume(float volume) override { record_->volume = volume; }
    void play() override {
      ++record_->plays;
      record_->playing = true;
    }
    void pause() override {
      ++record_->pauses;
      record_->playing = false;
    }

   private:
    std::shared_ptr<Record> record_;
  };
};

}  // namespace platform::fake
