// The audio module's player against a real PulseAudio server of the test's own (its null sink's monitor is
// recorded, so the test hears what the player played) and recordings served over real HTTP: MP3 and WAV
// decoding, the volume, a new source or a pause silencing what plays, and what cannot be played.
#include <gtest/gtest.h>
#include <poll.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "platform/linux/desktop/AudioModule.h"
#include "platform/linux/desktop/ModuleAudioPlayer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/http/LoopbackHttpServer.h"

namespace {

using quorvelle::test::ChildProcess;
using quorvelle::test::LoopbackHttpServer;
using quorvelle::test::RecordedRequest;
using quorvelle::test::ScopedEnvironment;
using quorvelle::test::ScriptedReply;
using quorvelle::test::TempDir;
using quorvelle::test::waitUntil;

constexpr int kMonitorRate = 44100;
constexpr int kBlockFrames = kMonitorRate / 100;  // 10 ms
// A block whose loudest sample reaches this holds sound; the tones are at half of full scale.
constexpr float kHeard = 0.02f;

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(QUORVELLE_SOURCE_DIR "/tests/fixtures/audio/") + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A 16-bit mono WAV file of a sine tone at half of full scale, as the development backend serves.
std::string wavTone(double hertz, int milliseconds, int rate = 16000) {
  const std::uint32_t samples = static_cast<std::uint32_t>(rate * milliseconds / 1000);
  std::string wav;
  auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  wav += "RIFF";
  put(36 + samples * 2, 4);
  wav += "WAVEfmt ";
  put(16, 4);
  put(1, 2);
  put(1, 2);
  put(static_cast<std::uint32_t>(rate), 4);
  put(static_cast<std::uint32_t>(rate * 2), 4);
  put(2, 2);
  put(16, 2);
  wav += "data";
  put(samples * 2, 4);
  for (std::uint32_t i = 0; i < samples; ++i) {
    put(static_cast<std::uint16_t>(static_cast<std::int16_t>(16384 * std::sin(2 * M_PI * hertz * i / rate))),
        2);
  }
  return wav;
}

// A PulseAudio server with one null sink, on a socket in a folder of its own; the process's PULSE_SERVER
// names it while the object lives.
class SoundServer {
 public:
  SoundServer()
      : socket_((dir_ / "native").string()),
        runtime_({{"PULSE_RUNTIME_PATH", dir_.path().string()}, {"PULSE_SERVER", "unix:" + socket_}}),
        daemon_({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                 "--log-level=error", "--log-target=stderr", "-L",
                 "module-null-sink sink_name=quorvelle_test", "-L",
                 "module-native-protocol-unix auth-anonymous=1 socket=" + socket_}) {}

  // True once clients can connect.
  bool ready() {
    return waitUntil([&] { return std::filesystem::exists(socket_); }, "the sound server's socket exists");
  }
  std::string output() const { return daemon_.output(); }

 private:
  TempDir dir_;
  std::string socket_;
  ScopedEnvironment runtime_;
  ChildProcess daemon_;
};

// Records the null sink's monitor from its own thread: the loudest sample of every 10 ms block.
class SinkRecorder {
 public:
  SinkRecorder() {
    const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, kMonitorRate, 1};
    const pa_buffer_attr buffer{static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                kBlockFrames * sizeof(float)};
    int code = 0;
    stream_ = pa_simple_new(nullptr, "audio-module-test", PA_STREAM_RECORD, "quorvelle_test.monitor",
                            "monitor", &sampleFormat, nullptr, &buffer, &code);
    if (stream_ == nullptr) {
      error_ = pa_strerror(code);
      return;
    }
    thread_ = std::thread([this] {
      std::vector<float> block(kBlockFrames);
      while (!stopping_) {
        int readCode = 0;
        if (pa_simple_read(stream_, block.data(), block.size() * sizeof(float), &readCode) < 0) return;
        float peak = 0;
        for (float sample : block) peak = std::max(peak, std::fabs(sample));
        const std::lock_guard lock(mutex_);
        peaks_.push_back(peak);
      }
    });
  }
  ~SinkRecorder() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (stream_ != nullptr) pa_simple_free(stream_);
  }

  const std::string& error() const { return error_; }
  // Blocks recorded so far: a mark for the calls below.
  std::size_t now() const {
    const std::lock_guard lock(mutex_);
    return peaks_.size();
  }
  // The loudest sample since `from`.
  float peakSince(std::size_t from) const {
    const std::lock_guard lock(mutex_);
    float peak = 0;
    for (std::size_t i = from; i < peaks_.size(); ++i) peak = std::max(peak, peaks_[i]);
    return peak;
  }
  // Blocks that held sound since `from`.
  std::size_t heardSince(std::size_t from) const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(peaks_.begin() + static_cast<std::ptrdiff_t>(std::min(from, peaks_.size())),
                      peaks_.end(), [](float peak) { return peak >= kHeard; }));
  }
  bool heard(std::size_t from) const { return heardSince(from) > 0; }
  // The last `blocks` blocks (all after `from`) held no sound.
  bool silentFor(std::size_t from, std::size_t blocks) const {
    const std::lock_guard lock(mutex_);
    if (peaks_.size() < from + blocks) return false;
    return std::all_of(peaks_.end() - static_cast<std::ptrdiff_t>(blocks), peaks_.end(),
                       [](float peak) { return peak < kHeard; });
  }

 private:
  pa_simple* stream_ = nullptr;
  std::string error_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<float> peaks_;
  std::thread thread_;
};

class AudioModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    previousSink_ = platform::setLogSink([this](platform::LogLevel, std::string_view line) {
      const std::lock_guard lock(linesMutex_);
      lines_.emplace_back(line);
    });
    server_.setHandler([this](const RecordedRequest& request) {
      const std::lock_guard lock(linesMutex_);
      const auto found = recordings_.find(request.path);
      ScriptedReply reply;
      if (found == recordings_.end()) {
        reply.status = 404;
        reply.body = "no such recording";
      } else {
        reply.headers = {{"Content-Type", "audio/mpeg"}};
        reply.body = found->second;
      }
      return reply;
    });
  }
  // Every player is gone by then: nothing logs into this fixture any more.
  void TearDown() override { platform::setLogSink(previousSink_); }

  std::string serve(const std::string& path, std::string bytes) {
    const std::lock_guard lock(linesMutex_);
    recordings_[path] = std::move(bytes);
    return server_.baseURL() + path;
  }
  static std::unique_ptr<platform::ModuleAudioPlayer> player() {
    return std::make_unique<platform::ModuleAudioPlayer>(std::string(QUORVELLE_BINARY_DIR "/program/") +
                                                         platform::audio_module::kFileName);
  }
  bool logged(const std::string& text) {
    const std::lock_guard lock(linesMutex_);
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }
  std::string log() {
    const std::lock_guard lock(linesMutex_);
    std::string all;
    for (const auto& line : lines_) all += line + "\n";
    return all;
  }

  LoopbackHttpServer server_;

 private:
  std::mutex linesMutex_;
  std::vector<std::string> lines_;
  std::map<std::string, std::string> recordings_;
  platform::LogSink previousSink_;
};

TEST_F(AudioModuleTest, PlaysMp3AndWavRecordingsToTheirEndAtTheSetVolume) {
  SoundServer sound;
  ASSERT_TRUE(sound.ready()) << sound.output();
  SinkRecorder sink;
  ASSERT_EQ(sink.error(), "") << sound.output();
  struct Case {
    const char* name;
    std::string bytes;
    int milliseconds;
    float volume;
  };
  const Case cases[] = {
      {"mono MP3 at 22050 Hz", fixture("tone-440-mono.mp3"), 500, 1.0f},
      {"stereo MP3 at 44100 Hz", fixture("tone-660-stereo.mp3"), 300, 1.0f},
      {"mono WAV at 16000 Hz", wavTone(440, 400), 400, 1.0f},
      {"mono MP3 at a quarter volume", fixture("tone-440-mono.mp3"), 500, 0.25f},
  };
  auto audio = player();
  int served = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.bytes.empty());
    const std::size_t start = sink.now();
    audio->setSource(serve("/recording-" + std::to_string(++served), c.bytes));
    audio->setVolume(c.volume);
    audio->play();
    ASSERT_TRUE(waitUntil([&] { return sink.heard(start); }, "the sink hears the recording")) << log();
    ASSERT_TRUE(waitUntil([&] { return sink.silentFor(start, 30); }, "the sink is silent after it")) << log();
    // The whole recording was heard (give or take the edges of the blocks), at the volume asked for.
    EXPECT_GE(sink.heardSince(start) * 10, static_cast<std::size_t>(c.milliseconds * 8 / 10));
    EXPECT_LE(sink.heardSince(start) * 10, static_cast<std::size_t>(c.milliseconds + 100));
    EXPECT_NEAR(sink.peakSince(start), 0.5f * c.volume, 0.08f * c.volume);
  }
  EXPECT_EQ(log(), "");
}

TEST_F(AudioModuleTest, ANewSourceStopsTheOneThatPlaysAndAPauseSilencesItUntilPlayGoesOn) {
  SoundServer sound;
  ASSERT_TRUE(sound.ready()) << sound.output();
  SinkRecorder sink;
  ASSERT_EQ(sink.error(), "") << sound.output();
  const std::string longTone = serve("/long.wav", wavTone(440, 20000));
  auto audio = player();
  audio->setVolume(1.0f);

  std::size_t mark = sink.now();
  audio->setSource(longTone);
  audio->play();
  ASSERT_TRUE(waitUntil([&] { return sink.heard(mark); }, "the long recording is heard")) << log();
  // The short one replaces it: once that has ended, nothing more is heard.
  mark = sink.now();
  audio->setSource(serve("/short.mp3", fixture("tone-440-mono.mp3")));
  audio->play();
  ASSERT_TRUE(waitUntil([&] { return sink.silentFor(mark, 50); }, "silence after the short recording"))
      << log();
  EXPECT_LE(sink.heardSince(mark) * 10, 900u);

  mark = sink.now();
  audio->setSource(longTone);
  audio->play();
  ASSERT_TRUE(waitUntil([&] { return sink.heard(mark); }, "the long recording is heard again")) << log();
  mark = sink.now();
  audio->pause();
  ASSERT_TRUE(waitUntil([&] { return sink.silentFor(mark, 50); }, "silence after the pause")) << log();
  // At once, give or take what the server held.
  EXPECT_LE(sink.heardSince(mark) * 10, 400u);
  mark = sink.now();
  audio->play();
  EXPECT_TRUE(waitUntil([&] { return sink.heard(mark); }, "the paused recording goes on")) << log();
  // Ending the player while it plays does not wait for the recording's end.
  mark = sink.now();
  audio.reset();
  EXPECT_TRUE(waitUntil([&] { return sink.silentFor(mark, 50); }, "silence once the player is gone"));
  EXPECT_LE(sink.heardSince(mark) * 10, 400u);
  EXPECT_EQ(log(), "");
}

TEST_F(AudioModuleTest, WhatCannotBeFetchedDecodedOrPlayedIsLoggedAndSilent) {
  SoundServer sound;
  ASSERT_TRUE(sound.ready()) << sound.output();
  struct Case {
    const char* name;
    std::string url;
    const char* logged;
  };
  std::string garbage(3000, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
  const Case cases[] = {
      {"bytes that are no sound", serve("/garbage.mp3", garbage), "it is not a sound the player can decode"},
      {"an answer that is no recording", server_.baseURL() + "/missing.mp3", "the server answered 404"},
      {"a backend that refuses", LoopbackHttpServer::closedBaseURL() + "/hello.mp3",
       "it could not be fetched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto audio = player();
    audio->setSource(c.url);
    audio->play();
    EXPECT_TRUE(waitUntil([&] { return logged(c.logged); }, c.logged)) << log();
  }
  EXPECT_TRUE(logged("AudioPlayer: cannot play the recording: ")) << log();

  // Without a sound server: a line that says so, and the player ends at once.
  const TempDir empty;
  const ScopedEnvironment noServer({{"PULSE_SERVER", "unix:" + (empty / "native").string()}});
  auto audio = player();
  audio->setSource(serve("/hello.mp3", fixture("tone-440-mono.mp3")));
  audio->play();
  EXPECT_TRUE(waitUntil([&] { return logged("no sound server takes it"); }, "the missing server is logged"))
      << log();
}

TEST_F(AudioModuleTest, ASoundServerThatNeverAnswersHoldsUpNeitherTheCallsNorThePlayersEnd) {
  // A socket that takes connections and never answers, as a hung server does.
  const TempDir dir;
  const std::string path = (dir / "native").string();
  const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listening, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listening, 8), 0);
  const ScopedEnvironment hung({{"PULSE_SERVER", "unix:" + path}});

  auto audio = player();
  audio->setSource(serve("/hello.mp3", fixture("tone-440-mono.mp3")));
  audio->play();
  ASSERT_TRUE(waitUntil(
      [&] {
        pollfd pending{listening, POLLIN, 0};
        return poll(&pending, 1, 0) == 1;
      },
      "the player connects to the server"));
  // The player's thread waits in the server's handshake now; none of the calls waits for it.
  audio->setVolume(0.3f);
  audio->pause();
  audio->setSource(serve("/again.mp3", fixture("tone-440-mono.mp3")));
  audio->play();
  audio.reset();
  EXPECT_TRUE(logged("the sound server did not answer")) << log();
  close(listening);
}

}  // namespace
