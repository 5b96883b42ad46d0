// What typing into the settings window's prompt editor costs the UI thread: 100 keystrokes, each of which
// saves the five settings, over the real settings file in a temporary folder. The file is written on the
// store's own thread; the counter "file writes" says how many writes the 100 keystrokes caused.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "app/AppSettings.h"
#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/linux/FileUserDefaults.h"
#include "ui/SettingsModel.h"

namespace {

constexpr int kKeystrokes = 100;

void BM_PromptKeystrokes(benchmark::State& state) {
  char folder[] = "/tmp/settings-keystrokes-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  std::atomic<long> writes = 0;
  {
    platform::FileUserDefaults defaults(std::filesystem::path(folder) / "settings.json");
    defaults.setWriteObserver([&] { ++writes; });
    platform::fake::FixedSystemInfo system{{"en-US"}};
    quorvelle::AppSettings settings(defaults, system);
    platform::fake::ManualExecutor executor;
    platform::fake::MemorySecretStore secrets;
    platform::fake::InlineSerialQueue keyringWorker;
    quorvelle::Keychain keychain(secrets, keyringWorker, executor);
    quorvelle::GeminiKeyManager geminiKey(keychain);
    platform::fake::ScriptedAccessibility accessibility;
    platform::fake::ManualWorkspace workspace;
    platform::NotificationCenter notifications;
    quorvelle::SettingsModel model({settings, geminiKey, accessibility, workspace, notifications, executor});
    std::string prompt = model.refinePrompt();
    for (auto _ : state) {
      for (int i = 0; i < kKeystrokes; ++i) {
        prompt += static_cast<char>('a' + i % 26);
        model.setRefinePrompt(prompt);
      }
    }
    defaults.flush();
    state.counters["file writes per 100 keystrokes"] =
        benchmark::Counter(static_cast<double>(writes.load()) / static_cast<double>(state.iterations()));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kKeystrokes);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PromptKeystrokes)->Unit(benchmark::kMicrosecond);

}  // namespace
