#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "DiziZoz/core/Gzip.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"

namespace {

void BM_UuidV7(benchmark::State& state) {
  auto& generator = dizizoz::TimeBasedEpochGenerator::shared();
  for (auto _ : state) benchmark::DoNotOptimize(generator.v7());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UuidV7)->ThreadRange(1, 4);

void BM_UuidV7Text(benchmark::State& state) {
  auto& generator = dizizoz::TimeBasedEpochGenerator::shared();
  for (auto _ : state) benchmark::DoNotOptimize(generator.v7().toString());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UuidV7Text);

// A batch body like the ones the delivery client compresses: many similar event objects.
std::string batchBody(std::size_t bytes) {
  std::string body = "{\"batch\":[";
  std::mt19937 engine(1);
  while (body.size() < bytes) {
    body += R"({"event":"onboarding_step_completed","distinct_id":"0190a1b2-c3d4-7e5f-8a9b-)" +
            std::to_string(engine()) + R"(","properties":{"step":"language","$session_id":")" +
            std::to_string(engine()) + R"("}},)";
  }
  body.back() = ']';
  return body + "}";
}

void BM_GzipBatch(benchmark::State& state) {
  const std::string body = batchBody(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(dizizoz::gzipped(body));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_GzipBatch)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

void BM_SanitizeProperties(benchmark::State& state) {
  dizizoz::Properties properties;
  for (int i = 0; i < 32; ++i)
    properties["key" + std::to_string(i)] = i % 2 ? dizizoz::Value("text") : dizizoz::Value(i);
  for (auto _ : state) benchmark::DoNotOptimize(dizizoz::sanitizeDictionary(properties));
}
BENCHMARK(BM_SanitizeProperties);

}  // namespace
