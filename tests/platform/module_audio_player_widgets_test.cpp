// The program's pronunciation player: the multimedia libraries arrive with the first recording, and a
// module that cannot be opened costs one log line and no sound.
#include <gtest/gtest.h>

#include <QFile>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/linux/desktop/AudioModule.h"
#include "platform/linux/desktop/ModuleAudioPlayer.h"

namespace {

bool mapped(const QString& name) {
  QFile maps("/proc/self/maps");
  return maps.open(QIODevice::ReadOnly) && QString::fromUtf8(maps.readAll()).contains(name);
}

class ModuleAudioPlayerTest : public testing::Test {
 protected:
  void SetUp() override {
    previousSink_ =
        platform::setLogSink([this](platform::LogLevel, std::string_view line) { lines.emplace_back(line); });
  }
  void TearDown() override { platform::setLogSink(previousSink_); }

  std::vector<std::string> lines;

 private:
  platform::LogSink previousSink_;
};

TEST_F(ModuleAudioPlayerTest, OpensTheModuleAndTheMultimediaLibrariesWithTheFirstSource) {
  platform::ModuleAudioPlayer player(std::string(QUORVELLE_BINARY_DIR "/program/") +
                                     platform::audio_module::kFileName);
  player.setVolume(0.5f);
  player.pause();
  player.play();
  EXPECT_FALSE(player.isLoaded());
  EXPECT_FALSE(mapped(platform::audio_module::kFileName));
  EXPECT_FALSE(mapped("libQt6Multimedia.so"));

  player.setSource("file:///nonexistent/hello.wav");
  EXPECT_TRUE(player.isLoaded());
  EXPECT_TRUE(mapped(platform::audio_module::kFileName));
  EXPECT_TRUE(mapped("libQt6Multimedia.so"));
  // A recording that cannot be played is only heard as silence.
  player.play();
  player.setSource("file:///nonexistent/hello-again.wav");
  player.pause();
}

TEST_F(ModuleAudioPlayerTest, AModuleThatCannotBeOpenedIsReportedOnceAndStaysSilent) {
  platform::ModuleAudioPlayer player("/nonexistent/quorvelle-audio.so");
  player.setSource("file:///nonexistent/hello.wav");
  player.setVolume(1.0f);
  player.play();
  player.setSource("file:///nonexistent/hello-again.wav");
  player.pause();
  EXPECT_FALSE(player.isLoaded());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("the audio module did not load: /nonexistent/quorvelle-audio.so"),
            std::string::npos)
      << lines[0];
}

}  // namespace
