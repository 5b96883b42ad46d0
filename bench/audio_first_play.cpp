// What the first pronunciation adds to the process: resident memory, threads and shared objects before
// the player's first source and 3 s after play(), once its recording (a 0.5 s MP3 served on 127.0.0.1)
// has played into a PulseAudio server of the benchmark's own (a null sink). As in the program, the transport
// has already made a request and a QGuiApplication runs. One iteration: the first play happens once per
// process. QUORVELLE_AUDIO_MODULE=<path> measures another build of the audio module (e.g. an older one).
// A benchmark: never run as a test.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/desktop/AudioModule.h"
#include "platform/linux/desktop/ModuleAudioPlayer.h"
#include "tests/support/http/LoopbackHttpServer.h"

extern char** environ;

namespace {

struct Footprint {
  double rssMiB = 0;
  double threads = 0;
  double libraries = 0;
};

Footprint footprint() {
  Footprint f;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    std::istringstream fields(line);
    std::string name;
    double value = 0;
    fields >> name >> value;
    if (name == "VmRSS:") f.rssMiB = value / 1024;
    if (name == "Threads:") f.threads = value;
  }
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> objects;
  for (std::string line; std::getline(maps, line);) {
    const auto slash = line.find('/');
    if (slash != std::string::npos && line.find(".so", slash) != std::string::npos)
      objects.insert(line.substr(slash));
  }
  f.libraries = static_cast<double>(objects.size());
  return f;
}

void pump(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// A PulseAudio server with a null sink on a socket of its own, named by PULSE_SERVER while it lives.
class SoundServer {
 public:
  SoundServer() {
    char pattern[] = "/tmp/audio-first-play-XXXXXX";
    dir_ = mkdtemp(pattern);
    const std::string socket = dir_ + "/native";
    setenv("PULSE_RUNTIME_PATH", dir_.c_str(), 1);
    std::vector<std::string> args = {"pulseaudio",
                                     "-n",
                                     "--daemonize=no",
                                     "--exit-idle-time=-1",
                                     "--use-pid-file=no",
                                     "--log-level=error",
                                     "-L",
                                     "module-null-sink sink_name=bench",
                                     "-L",
                                     "module-native-protocol-unix auth-anonymous=1 socket=" + socket};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
  }
  ~SoundServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};

class DirectExecutor final : public platform::Executor {
 public:
  void post(platform::Job job) override { job(); }
};

void firstPronunciation(benchmark::State& state) {
  static int argc = 1;
  static char name[] = "bench_audio_first_play";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QGuiApplication app(argc, argv);

  std::ifstream in(QUORVELLE_BENCH_SOURCE_DIR "/tests/fixtures/audio/tone-440-mono.mp3", std::ios::binary);
  const std::string recording{std::istreambuf_iterator<char>(in), {}};
  quorvelle::test::LoopbackHttpServer server([&](const quorvelle::test::RecordedRequest&) {
    quorvelle::test::ScriptedReply reply;
    reply.headers = {{"Content-Type", "audio/mpeg"}};
    reply.body = recording;
    return reply;
  });
  const SoundServer sound;
  // The program has made its translation request before it pronounces anything.
  DirectExecutor direct;
  platform::CurlHttpClient http;
  std::atomic<bool> answered{false};
  platform::HttpRequest request;
  request.url = server.baseURL() + "/translate";
  http.send(std::move(request), direct, [&](platform::HttpResult) { answered = true; });
  while (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  const char* module = std::getenv("QUORVELLE_AUDIO_MODULE");
  platform::ModuleAudioPlayer player(module != nullptr ? std::string(module)
                                                       : std::string(QUORVELLE_BENCH_BINARY_DIR "/program/") +
                                                             platform::audio_module::kFileName);
  player.setVolume(0.5f);
  pump(std::chrono::milliseconds(500));
  Footprint before;
  Footprint after;
  for (auto _ : state) {
    before = footprint();
    player.setSource(server.baseURL() + "/audio?src=hello.mp3");
    player.play();
    pump(std::chrono::milliseconds(3000));
    after = footprint();
  }
  state.counters["rss_before_MiB"] = before.rssMiB;
  state.counters["rss_after_MiB"] = after.rssMiB;
  state.counters["rss_added_MiB"] = after.rssMiB - before.rssMiB;
  state.counters["threads_before"] = before.threads;
  state.counters["threads_after"] = after.threads;
  state.counters["libs_before"] = before.libraries;
  state.counters["libs_after"] = after.libraries;
}
BENCHMARK(firstPronunciation)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
