// Google Benchmark of the rule itself and of the command line's line reader.
#include <benchmark/benchmark.h>

#include <string>

#include "line_repair.h"
#include "share_link.h"

namespace {

const std::u16string kLink = u"https://pan.baidu.com/share/link?shareid=123456789&uk=1234567890";

void BM_FindUserKey(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(quenvar::findUserKey(kLink));
}
BENCHMARK(BM_FindUserKey);

void BM_RepairShareLink(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(quenvar::repairShareLink(kLink));
}
BENCHMARK(BM_RepairShareLink);

void BM_LineReader(benchmark::State& state) {
  std::string input;
  const bool chinese = state.range(0) != 0;
  while (input.size() < (1u << 20)) {
    input += chinese ? "https://pan.baidu.com/s/分享链接?uk=1234567890\n"
                     : "https://pan.baidu.com/share/link?shareid=123456789&uk=1234567890\n";
  }
  std::size_t repaired = 0;
  for (auto _ : state) {
    quenvar::cli::LineRepairer repairer;
    auto onLine = [&](const quenvar::cli::LineResult& r) {
      repaired += r.outcome == quenvar::cli::LineOutcome::Repaired;
    };
    repairer.feed(input.data(), input.size(), onLine);
    repairer.finish(onLine);
  }
  benchmark::DoNotOptimize(repaired);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_LineReader)->Arg(0)->Arg(1)->ArgNames({"non_ascii"});

}  // namespace

BENCHMARK_MAIN();
