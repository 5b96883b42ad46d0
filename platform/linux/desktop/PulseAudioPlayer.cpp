// The audio module (AudioModule.h): the pronunciation player. A recording is fetched whole over HTTP,
// decoded by libsndfile (MP3 through mpg123, WAV, FLAC, Ogg) and written to the sound server through
// PulseAudio's simple API (PipeWire's pulse server takes it too), on a thread of the player's own. The
// libraries it needs load with this module, that is with the first pronunciation.
#include <pthread.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <pulse/timeval.h>
#include <signal.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "platform/ThreadCaptureSignal.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/desktop/AudioModule.h"

namespace platform {
namespace {

// A pronunciation is a few kilobytes; anything near this is no recording of a word.
constexpr std::size_t kMaxRecordingBytes = 16u << 20;
constexpr std::chrono::seconds kFetchTimeout{30};
// What the sound server is given ahead of what it plays: how late a stop or a pause is heard.
constexpr int kBufferMilliseconds = 100;
// Added to the time the server says it needs to play what it holds, before the stream is closed.
constexpr std::chrono::milliseconds kPlayOutMargin{50};
// What is decoded and written at once: how late a new volume is heard.
constexpr int kChunkMilliseconds = 20;
// How long the player's end waits for its thread, which a sound server that stopped answering may hold.
constexpr std::chrono::seconds kWorkerEndWait{2};

void warn(const std::string& why) {
  log(LogLevel::warning, "AudioPlayer: cannot play the recording: " + why);
}

// Runs a fetch's completion on the transport's thread, where it only hands the recording over.
class DirectExecutor final : public Executor {
 public:
  void post(Job job) override { job(); }
};

// A recording in memory, read by libsndfile as a file.
class Decoder {
 public:
  // Nothing (and `error` says why) when libsndfile cannot read the bytes as sound.
  static std::unique_ptr<Decoder> open(std::shared_ptr<const std::string> bytes, std::string& error) {
    auto decoder = std::unique_ptr<Decoder>(new Decoder(std::move(bytes)));
    SF_VIRTUAL_IO io{&Decoder::length, &Decoder::seek, &Decoder::read, nullptr, &Decoder::tell};
    decoder->file_ = sf_open_virtual(&io, SFM_READ, &decoder->info_, decoder.get());
    if (decoder->file_ == nullptr) {
      error = std::string("it is not a sound the player can decode (") + sf_strerror(nullptr) + ")";
      return nullptr;
    }
    return decoder;
  }
  ~Decoder() {
    if (file_ != nullptr) sf_close(file_);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  int rate() const { return info_.samplerate; }
  int channels() const { return info_.channels; }
  bool skipTo(sf_count_t frame) { return sf_seek(file_, frame, SEEK_SET) == frame; }
  // Up to `count` frames of interleaved samples in -1...1; 0 at the end or on an error (error()).
  sf_count_t read(float* samples, sf_count_t count) { return sf_readf_float(file_, samples, count); }
  std::optional<std::string> error() const {
    if (sf_error(file_) == SF_ERR_NO_ERROR) return std::nullopt;
    return std::string("its sound is damaged (") + sf_strerror(file_) + ")";
  }

 private:
  explicit Decoder(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}

  static Decoder& self(void* user) { return *static_cast<Decoder*>(user); }
  static sf_count_t length(void* user) { return static_cast<sf_count_t>(self(user).bytes_->size()); }
  static sf_count_t tell(void* user) { return self(user).position_; }
  static sf_count_t seek(sf_count_t offset, int whence, void* user) {
    Decoder& d = self(user);
    const sf_count_t base = whence == SEEK_CUR ? d.position_ : whence == SEEK_END ? length(user) : 0;
    const sf_count_t target = base + offset;
    if (target < 0 || target > length(user)) return -1;
    return d.position_ = target;
  }
  static sf_count_t read(void* into, sf_count_t count, void* user) {
    Decoder& d = self(user);
    const sf_count_t n = std::clamp<sf_count_t>(length(user) - d.position_, 0, count);
    std::memcpy(into, d.bytes_->data() + d.position_, static_cast<std::size_t>(n));
    d.position_ += n;
    return n;
  }

  std::shared_ptr<const std::string> bytes_;
  sf_count_t position_ = 0;
  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
};

enum class Want { stop, play, pause };

// What the main thread, the transport's thread and the player's thread share.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by `mutex`:
  std::uint64_t source = 0;  // counts setSource(): what the player's thread plays belongs to this one
  Want want = Want::stop;
  std::shared_ptr<const std::string> recording;  // the source's bytes, once fetched
  sf_count_t resumeAt = 0;                       // the frame a paused recording goes on from
  bool quitting = false;
  bool finished = false;  // the player's thread has returned
  // Read by the player's thread at each chunk.
  std::atomic<float> volume{1.0f};
};

// How one turn of playing ended.
struct Played {
  enum { ended, interrupted, failed } how = ended;
  sf_count_t heardUpTo = 0;  // interrupted: the first frame not yet heard
  std::string error;         // failed
};

// Under `shared.mutex`.
bool stopAsked(const Shared& shared, std::uint64_t source) {
  return shared.quitting || shared.source != source || shared.want != Want::play;
}

bool interrupted(Shared& shared, std::uint64_t source) {
  const std::lock_guard lock(shared.mutex);
  return stopAsked(shared, source);
}

// Plays `bytes` from frame `from` until its end, a failure, or until the source changes or is paused.
Played playOnce(Shared& shared, std::uint64_t source, std::shared_ptr<const std::string> bytes,
                sf_count_t from) {
  std::string error;
  const auto decoder = Decoder::open(std::move(bytes), error);
  if (!decoder) return {Played::failed, 0, error};
  const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE,
                                    static_cast<std::uint32_t>(std::max(decoder->rate(), 0)),
                                    static_cast<std::uint8_t>(std::clamp(decoder->channels(), 0, 255))};
  if (!pa_sample_spec_valid(&sampleFormat) || sampleFormat.channels != decoder->channels()) {
    return {Played::failed, 0,
            "its format (" + std::to_string(decoder->channels()) + " channels at " +
                std::to_string(decoder->rate()) + " Hz) is not one the sound server takes"};
  }
  if (from > 0 && !decoder->skipTo(from)) from = 0;

  const auto frames = static_cast<sf_count_t>(std::max(1, decoder->rate() * kChunkMilliseconds / 1000));
  const auto bytesOf = [&](int milliseconds) {
    return static_cast<std::uint32_t>(pa_usec_to_bytes(milliseconds * PA_USEC_PER_MSEC, &sampleFormat));
  };
  // Playing starts with the first chunk (and after an underrun, with the next), since no drain starts it.
  const pa_buffer_attr buffer{static_cast<std::uint32_t>(-1), bytesOf(kBufferMilliseconds),
                              bytesOf(kChunkMilliseconds), static_cast<std::uint32_t>(-1),
                              static_cast<std::uint32_t>(-1)};
  int code = 0;
  pa_simple* stream = pa_simple_new(nullptr, "Quorvelle", PA_STREAM_PLAYBACK, nullptr, "Pronunciation",
                                    &sampleFormat, nullptr, &buffer, &code);
  if (stream == nullptr) {
    const bool noServer = code == PA_ERR_CONNECTIONREFUSED || code == PA_ERR_INVALIDSERVER ||
                          code == PA_ERR_CONNECTIONTERMINATED || code == PA_ERR_ACCESS;
    return {Played::failed, 0,
            std::string(noServer ? "no sound server takes it (" : "the sound server refused it (") +
                pa_strerror(code) + ")"};
  }
  const auto close = [&] { pa_simple_free(stream); };

  std::vector<float> chunk(static_cast<std::size_t>(frames * decoder->channels()));
  sf_count_t written = from;
  const auto stopped = [&] {
    // What the server holds is not heard: a paused recording goes on from there.
    const pa_usec_t held = pa_simple_get_latency(stream, &code);
    const auto heldFrames = static_cast<sf_count_t>(
        held == static_cast<pa_usec_t>(-1) ? 0 : held * sampleFormat.rate / PA_USEC_PER_SEC);
    pa_simple_flush(stream, &code);
    close();
    return Played{Played::interrupted, std::max(from, written - heldFrames), {}};
  };
  for (;;) {
    if (interrupted(shared, source)) return stopped();
    const sf_count_t got = decoder->read(chunk.data(), frames);
    if (got <= 0) break;
    const float volume = shared.volume.load(std::memory_order_relaxed);
    const auto samples = static_cast<std::size_t>(got * decoder->channels());
    for (std::size_t i = 0; i < samples; ++i) chunk[i] *= volume;
    if (pa_simple_write(stream, chunk.data(), samples * sizeof(float), &code) < 0) {
      close();
      return {Played::failed, 0,
              std::string("the sound server stopped taking it (") + pa_strerror(code) + ")"};
    }
    written += got;
  }
  // What the server holds plays out, unless a new source, a pause or the player's end comes first (a
  // drain could not be cut short).
  const pa_usec_t held = pa_simple_get_latency(stream, &code);
  if (held == static_cast<pa_usec_t>(-1)) {
    pa_simple_drain(stream, &code);
  } else {
    std::unique_lock lock(shared.mutex);
    const bool cut = shared.changed.wait_for(lock, std::chrono::microseconds(held) + kPlayOutMargin,
                                             [&] { return stopAsked(shared, source); });
    lock.unlock();
    if (cut) return stopped();
  }
  close();
  if (auto damaged = decoder->error()) return {Played::failed, 0, *damaged};
  return {};
}

void runPlayer(const std::shared_ptr<Shared>& owner) {
  pthread_setname_np(pthread_self(), "audio");
  // Signals sent to the process are handled elsewhere; faults and the crash reporter's capture reach it.
  sigset_t set;
  sigfillset(&set);
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT, SIGSYS}) sigdelset(&set, sig);
  sigdelset(&set, threadCaptureSignal());
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  Shared& shared = *owner;
  std::unique_lock lock(shared.mutex);
  for (;;) {
    shared.changed.wait(lock,
                        [&] { return shared.quitting || (shared.want == Want::play && shared.recording); });
    if (shared.quitting) break;
    const std::uint64_t source = shared.source;
    auto recording = shared.recording;
    const sf_count_t from = shared.resumeAt;
    lock.unlock();
    const Played played = playOnce(shared, source, std::move(recording), from);
    lock.lock();
    // A failure that comes after the player's end (a server that stopped answering gave up) concerns
    // nobody any more.
    if (played.how == Played::failed && !shared.quitting) {
      lock.unlock();
      warn(played.error);
      lock.lock();
    }
    if (shared.source != source) continue;
    if (played.how == Played::interrupted && shared.want == Want::pause) {
      shared.resumeAt = played.heardUpTo;
    } else if (played.how != Played::interrupted) {
      // Played to its end, or not at all: play() starts it again from the beginning.
      shared.resumeAt = 0;
      if (shared.want == Want::play) shared.want = Want::stop;
    }
  }
  shared.finished = true;
  shared.changed.notify_all();
}

// Each source replaces (and silences) the one before; its recording is fetched at once and played from
// the player's thread once play() asks. What cannot be fetched, decoded or played is logged and silent.
// Main thread only.
class PulseAudioPlayer final : public AudioPlayer {
 public:
  PulseAudioPlayer() : worker_([shared = shared_] { runPlayer(shared); }) {}
  ~PulseAudioPlayer() override {
    fetch_.cancel();
    std::unique_lock lock(shared_->mutex);
    shared_->quitting = true;
    shared_->changed.notify_all();
    // A sound server that stopped answering holds the thread inside a libpulse call: it is then left to
    // end by itself (it owns what it uses), so that quitting the program never waits on the server.
    const bool ended = shared_->changed.wait_for(lock, kWorkerEndWait, [&] { return shared_->finished; });
    lock.unlock();
    if (ended) {
      worker_.join();
    } else {
      log(LogLevel::warning,
          "AudioPlayer: the sound server did not answer; the player's thread is left to end");
      worker_.detach();
    }
  }
  PulseAudioPlayer(const PulseAudioPlayer&) = delete;
  PulseAudioPlayer& operator=(const PulseAudioPlayer&) = delete;

  // Stops what plays: a new source, or the same one again, starts from its beginning.
  void setSource(const std::string& url) override {
    fetch_.cancel();
    fetch_ = CancelToken();
    std::uint64_t source = 0;
    {
      const std::lock_guard lock(shared_->mutex);
      source = ++shared_->source;
      shared_->want = Want::stop;
      shared_->recording.reset();
      shared_->resumeAt = 0;
      shared_->changed.notify_all();
    }
    HttpRequest request;
    request.url = url;
    request.timeout = kFetchTimeout;
    request.maxResponseBytes = kMaxRecordingBytes;
    request.cancel = fetch_;
    http_.send(std::move(request), direct_, [shared = shared_, source](HttpResult result) {
      if (result.error && result.error->kind == HttpErrorKind::cancelled) return;
      std::string problem;
      if (result.error) {
        problem = "it could not be fetched (" + result.error->message + ")";
      } else if (result.status < 200 || result.status > 299) {
        problem = "the server answered " + std::to_string(result.status);
      } else if (result.body.empty()) {
        problem = "the server sent nothing";
      }
      {
        const std::lock_guard lock(shared->mutex);
        if (shared->source != source) return;
        if (problem.empty()) {
          shared->recording = std::make_shared<const std::string>(std::move(result.body));
          shared->changed.notify_all();
          return;
        }
      }
      warn(problem);
    });
  }

  // A volume that is not a number is silence, not noise.
  void setVolume(float volume) override {
    shared_->volume.store(std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f));
  }

  void play() override {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->source == 0) return;
    shared_->want = Want::play;
    shared_->changed.notify_all();
  }

  void pause() override {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->want == Want::play) shared_->want = Want::pause;
    shared_->changed.notify_all();
  }

 private:
  DirectExecutor direct_;
  CurlHttpClient http_;
  CancelToken fetch_;
  const std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::thread worker_;
};

}  // namespace
}  // namespace platform

extern "C" __attribute__((visibility("default"))) platform::AudioPlayer* quorvelle_create_audio_player(
    platform::audio_module::LogLine logLine) {
  // This module keeps its own copy of the platform layer: its lines go to the program's log.
  if (logLine != nullptr) {
    platform::setLogSink(
        [logLine](platform::LogLevel level, std::string_view line) { logLine(level, line); });
  }
  return new platform::PulseAudioPlayer();
}
