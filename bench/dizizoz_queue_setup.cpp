// Opening an upload queue's record store over 10,000 records left by an earlier run: listing the folder
// and putting the names in sending order, which the client's set-up does before the program's event loop
// first runs. The records are written once, through a store as the client writes them, into a temporary
// folder removed at exit; each iteration opens a new store over them. The median is the figure to compare.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 10'000;

// A folder of `kRecords` event-sized records, removed with the object.
class RecordFolder {
 public:
  RecordFolder() {
    std::string pattern = (fs::temp_directory_path() / "dizizoz-bench-setup-XXXXXX").string();
    if (mkdtemp(pattern.data())) root_ = pattern;
    if (root_.empty()) return;
    queue = root_ / "dizizoz.queueFolder.uuid";
    dizizoz::DiziZozFileBackedQueue writer(queue, {});
    const std::string record(900, 'x');
    for (int i = 0; i < kRecords; ++i) {
      if (!writer.add(record)) return;
    }
    ready = writer.depth() == kRecords;
  }
  ~RecordFolder() {
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }
  RecordFolder(const RecordFolder&) = delete;
  RecordFolder& operator=(const RecordFolder&) = delete;

  fs::path queue;
  bool ready = false;

 private:
  fs::path root_;
};

void BM_OpenStoreOverTenThousandRecords(benchmark::State& state) {
  // Written once for every repetition.
  static RecordFolder folder;
  if (!folder.ready) {
    state.SkipWithError("the records could not be written");
    return;
  }
  for (auto _ : state) {
    dizizoz::DiziZozFileBackedQueue store(folder.queue, {});
    if (store.depth() != kRecords) {
      state.SkipWithError("the store did not list every record");
      break;
    }
    benchmark::DoNotOptimize(store.depth());
  }
}
BENCHMARK(BM_OpenStoreOverTenThousandRecords)
    ->Iterations(20)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace
