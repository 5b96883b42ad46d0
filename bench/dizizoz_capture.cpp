// One capture() of an onboarding-style event on the caller's thread, through the whole pipeline: set-up and
// opt-out checks, sanitising, the property builder (context, super properties and groups as the client keeps
// them, session), a version 7 id, the before-send chain and the queue's add. The default services' event
// queue keeps events in memory; the file-backed case writes each event to its own file as delivery does.
// The median of the repetitions is the figure to compare; the file-backed case is read against the floor
// measured in the same run: the record's own open+write+rename, of a record's size, in the same folder.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/delivery/DeliveryQueues.h"
#include "DiziZoz/delivery/DiziZozQueue.h"
#include "platform/linux/ThreadSerialQueue.h"

namespace {

namespace fs = std::filesystem;

// A client over the default services with its files in a temporary folder, removed at exit.
class BenchClient {
 public:
  explicit BenchClient(const std::string& token, bool fileBacked = false) {
    std::string pattern = (fs::temp_directory_path() / "dizizoz-bench-XXXXXX").string();
    folder_ = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::temp_directory_path() / "dizizoz-bench";
    auto services = dizizoz::DiziZozServices::inert();
    services.storageLocation = [folder = folder_](const dizizoz::DiziZozConfig&) {
      dizizoz::DiziZozStorageLocation location;
      location.applicationSupport = folder / "com.quorvelle.app";
      location.bundleIdentifier = "com.quorvelle.app";
      return location;
    };
    if (fileBacked) {
      dizizoz::useFileBackedQueues(services, [](const std::string& label) {
        return std::make_shared<platform::ThreadSerialQueue>(label);
      });
    }
    auto config = std::make_shared<dizizoz::DiziZozConfig>(token);
    if (fileBacked) config->flushAt = config->maxQueueSize + 1;  // no API client: nothing to upload to
    config->captureApplicationLifecycleEvents = false;
    config->captureScreenViews = false;
    config->capturePushNotificationOpened = false;
    client = dizizoz::DiziZozSDK::create(config, services);
    client->setup(config);
  }
  ~BenchClient() {
    client.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::shared_ptr<dizizoz::DiziZozSDK> client;

 private:
  fs::path folder_;
};

const dizizoz::Properties stepProperties{{"step", "language"}, {"language", "de"}, {"index", 2}};

void BM_Capture(benchmark::State& state) {
  BenchClient bench("phc_bench_capture");
  for (auto _ : state) bench.client->capture("onboarding_step_completed", {.properties = stepProperties});
}
BENCHMARK(BM_Capture)->Repetitions(9)->ReportAggregatesOnly(true);

// The same with super properties and a group registered, as an identified application would have them.
void BM_CaptureWithSuperPropertiesAndGroups(benchmark::State& state) {
  BenchClient bench("phc_bench_capture_registered");
  auto storage = bench.client->storage();
  storage->setJson(dizizoz::DiziZozStorage::StorageKey::registerProperties,
                   {{"plan", "pro"}, {"purpose", "work"}, {"native_language", "de"}});
  storage->setJson(dizizoz::DiziZozStorage::StorageKey::groups, {{"company", "acme"}});
  bench.client->screen("SettingsView");
  for (auto _ : state) bench.client->capture("onboarding_step_completed", {.properties = stepProperties});
}
BENCHMARK(BM_CaptureWithSuperPropertiesAndGroups)->Repetitions(9)->ReportAggregatesOnly(true);

// Each capture stored as a file of the event queue. The queue is emptied outside the timing every few
// hundred captures, so that the store never reaches its size limit (which would add a removal).
void BM_CaptureFileBacked(benchmark::State& state) {
  BenchClient bench("phc_bench_capture_files", true);
  auto queue = std::dynamic_pointer_cast<dizizoz::DiziZozQueue<dizizoz::DiziZozEvent>>(bench.client->queue());
  if (!queue) {
    state.SkipWithError("the client has no file-backed event queue");
    return;
  }
  int sinceCleared = 0;
  for (auto _ : state) {
    bench.client->capture("onboarding_step_completed", {.properties = stepProperties});
    if (++sinceCleared == 500) {
      state.PauseTiming();
      queue->clear();
      sinceCleared = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_CaptureFileBacked)->Repetitions(9)->ReportAggregatesOnly(true);

// The floor of a file-backed capture: what storing one record costs the file system and nothing else.
// A file of the size of one captured event is created next to the event queue's records, written, closed
// and renamed into place, as the store writes each record; emptied like the capture case.
void BM_RecordFileFloor(benchmark::State& state) {
  BenchClient bench("phc_bench_capture_floor", true);
  const fs::path folder = bench.client->storage()->url(dizizoz::DiziZozStorage::StorageKey::queue);
  bench.client->capture("onboarding_step_completed", {.properties = stepProperties});
  std::size_t recordBytes = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    recordBytes = std::max(recordBytes, entry.file_size());
  if (recordBytes == 0) {
    state.SkipWithError("the client stored no record to take the size of");
    return;
  }
  const std::string record(recordBytes, 'x');
  long counter = 0;
  int sinceCleared = 0;
  for (auto _ : state) {
    const std::string name = (folder / ("floor-" + std::to_string(++counter))).string();
    const std::string temporary = (folder / (".floor-" + std::to_string(counter) + ".writing")).string();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size()) ||
        ::close(fd) != 0 || ::rename(temporary.c_str(), name.c_str()) != 0) {
      state.SkipWithError("the record file could not be written");
      break;
    }
    if (++sinceCleared == 500) {
      state.PauseTiming();
      for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
      sinceCleared = 0;
      state.ResumeTiming();
    }
  }
  state.counters["record_bytes"] = static_cast<double>(recordBytes);
}
BENCHMARK(BM_RecordFileFloor)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace
