// The program's pronunciation player: the decoder and sound-server libraries arrive with the first
// recording, and a module that cannot be opened costs one log line and no sound.
#include <gtest/gtest.h>

#include <QFile>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/linux/desktop/AudioModule.h"
#include "platform/linux/desktop/ModuleAudioPlayer.h"
#include "tests/support/Eventually.h"
#include "tests/support/http/LoopbackHttpServer.h"

namespace {

bool mapped(const QString& name) {
  QFile maps("/proc/self/maps");
  return maps.open(QIODevice::ReadOnly) && QString::fromUtf8(maps.readAll()).contains(name);
}

class ModuleAudioPlayerTest : public testing::Test {
 protected:
  void SetUp() override {
    previousSink_ = platform::setLogSink([this](platform::LogLevel, std::string_view line) {
      const std::lock_guard lock(linesMutex);
      lines.emplace_back(line);
    });
  }
  void TearDown() override { platform::setLogSink(previousSink_); }

  // Written by the player's threads too.
  std::mutex linesMutex;
  std::vector<std::string> lines;

 private:
  platform::LogSink previousSink_;
};

TEST_F(ModuleAudioPlayerTest, OpensTheModuleAndItsLibrariesWithTheFirstSource) {
  platform::ModuleAudioPlayer player(std::string(QUORVELLE_BINARY_DIR "/program/") +
                                     platform::audio_module::kFileName);
  player.setVolume(0.5f);
  player.pause();
  player.play();
  EXPECT_FALSE(player.isLoaded());
  for (const char* library : {platform::audio_module::kFileName, "libsndfile.so", "libpulse-simple.so"}) {
    EXPECT_FALSE(mapped(library)) << library;
  }

  const std::string recording = quorvelle::test::LoopbackHttpServer::closedBaseURL() + "/hello.mp3";
  player.setSource(recording);
  EXPECT_TRUE(player.isLoaded());
  for (const char* library : {platform::audio_module::kFileName, "libsndfile.so", "libpulse-simple.so"}) {
    EXPECT_TRUE(mapped(library)) << library;
  }
  EXPECT_FALSE(mapped("libQt6Multimedia.so"));
  EXPECT_FALSE(mapped("libgstreamer"));
  // A recording that cannot be fetched is only heard as silence, and said in the program's log.
  player.play();
  EXPECT_TRUE(quorvelle::test::waitUntil(
      [&] {
        const std::lock_guard lock(linesMutex);
        return !lines.empty();
      },
      "the failed fetch is logged"));
  player.setSource(recording);
  player.pause();
  const std::lock_guard lock(linesMutex);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("AudioPlayer: cannot play the recording: it could not be fetched"),
            std::string::npos)
      << lines[0];
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
