// The core's per-tick work, with nothing behind the platform interfaces: what one
// movement tick, one sampler tick and one CPU reading cost in the saver itself.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>

#include "crawlet/crawlet.h"
#include "crawlet/drawing_surface.h"
#include "measure/counter_source.h"
#include "measure/cpuinfo.h"
#include "measure/sampler.h"

namespace {

using quillomir::ColorValue;

// Counts the calls so that the compiler cannot drop them.
class NullSurface : public quillomir::DrawingSurface {
  public:
    void SetFillColor(ColorValue color) override { fill_ = color; }
    void DrawCircle(float x, float y, float radius, ColorValue outline) override {
        ++circles_;
        benchmark::DoNotOptimize(x + y + radius + static_cast<float>(outline + fill_));
    }
    float ScaleWidth() const override { return 15360.0f; }   // 1024 px at 96 DPI
    float ScaleHeight() const override { return 11520.0f; }  // 768 px
    std::int64_t circles() const { return circles_; }

  private:
    ColorValue fill_ = 0;
    std::int64_t circles_ = 0;
};

// Counters that advance like a 2-processor machine about a quarter busy.
class ScriptedCounters : public quillomir::CounterSource {
  public:
    std::optional<std::uint32_t> ProcessorCount() override { return 2; }
    std::optional<std::uint64_t> IdleTime() override {
        idle_ += 150'000'000ull;  // 15 s of idle over both processors
        return idle_;
    }
    std::optional<std::uint64_t> SystemTime() override {
        time_ += 100'000'000ull;  // 10 s
        return time_;
    }

  private:
    std::uint64_t idle_ = 1'000'000'000ull;
    std::uint64_t time_ = 133'000'000'000'000'000ull;
};

class ScriptedMemory : public quillomir::MemorySource {
  public:
    std::optional<quillomir::MemoryStatus> Read() override {
        return quillomir::MemoryStatus{8ull << 30, 3ull << 30};
    }
};

void BM_BounceTick(benchmark::State& state) {
    NullSurface surface;
    quillomir::Crawlet crawlet;
    crawlet.SegmentRadius = 120;
    crawlet.StepSize = 105;
    crawlet.CrawletLength = static_cast<std::int16_t>(state.range(0));
    crawlet.Direction = quillomir::DownRight;
    crawlet.SegmentPos[0] = {7680, 5760};
    for (auto _ : state) {
        crawlet.BounceTick(surface, 16711680);
    }
    benchmark::DoNotOptimize(crawlet.SegmentPos[0]);
    state.counters["circles/tick"] =
        static_cast<double>(surface.circles()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BounceTick)->Arg(5)->Arg(50)->Arg(105);

void BM_SamplerTick(benchmark::State& state) {
    ScriptedCounters counters;
    ScriptedMemory memory;
    quillomir::cpuinfo meter(counters);
    meter.Initialize();
    quillomir::LoadSampler sampler(memory);
    sampler.CrawletMethod = quillomir::kMethodCpu;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sampler.Tick(&meter));
    }
    benchmark::DoNotOptimize(sampler.SampleValue);
}
BENCHMARK(BM_SamplerTick);

void BM_CpuinfoQuery(benchmark::State& state) {
    ScriptedCounters counters;
    quillomir::cpuinfo meter(counters);
    meter.Initialize();
    for (auto _ : state) {
        benchmark::DoNotOptimize(meter.Query());
    }
}
BENCHMARK(BM_CpuinfoQuery);

}  // namespace

BENCHMARK_MAIN();
