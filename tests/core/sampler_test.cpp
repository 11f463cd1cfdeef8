// one sample a tick, the minute's average on every sixth.
#include "measure/sampler.h"

#include <gtest/gtest.h>

#include <vector>

#include "fakes.h"

namespace quillomir {
namespace {

using fakes::ScriptedCounters;
using fakes::ScriptedMemory;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// Method 3 counts SampleValue again, so setting it before each tick feeds a sample.
std::int32_t AverageOf(const std::vector<std::int32_t>& samples) {
    ScriptedMemory memory;
    LoadSampler sampler(memory);
    sampler.CrawletMethod = kMethodNone;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        sampler.SampleValue = samples[i];
        const SampleOutcome outcome = sampler.Tick(nullptr);
        EXPECT_EQ(outcome,
                  i + 1 == samples.size() ? SampleOutcome::Averaged : SampleOutcome::Sampled);
    }
    EXPECT_EQ(sampler.SampleCount, 0);
    EXPECT_EQ(sampler.SampleSum, 0);
    return sampler.SampleValue;
}

TEST(Sampler, AveragesSixSamplesHalfToEvenAfterClamping) {
    const std::pair<std::vector<std::int32_t>, std::int32_t> cases[] = {
        {{10, 20, 30, 40, 50, 60}, 35},
        {{60, 60, 60, 65, 65, 65}, 62},  // 375 / 6 = 62.5
        {{63, 63, 63, 64, 64, 64}, 64},  // 381 / 6 = 63.5
        {{-1, -1, -1, -1, -1, -1}, -1},
        {{5000, 5000, 5000, 5000, 5000, 5000}, 100},  // each sample clamped to -1..100
        {{-3000, -3000, -3000, -3000, -3000, -3000}, -1},
        {{5000, -3000, 2147483647, -2147483647 - 1, 50, 50}, 50},  // 298 / 6
    };
    for (const auto& [samples, average] : cases) {
        EXPECT_EQ(AverageOf(samples), average) << testing::PrintToString(samples);
    }
}

TEST(Sampler, LengthAndCaptionOfAnAverage) {
    const std::tuple<std::int32_t, std::int16_t, const char*> cases[] = {
        {35, 40, "35 %"}, {-1, 4, "-1 %"}, {0, 5, "0 %"}, {100, 105, "100 %"}, {1, 6, "1 %"},
    };
    for (const auto& [average, length, caption] : cases) {
        EXPECT_EQ(LoadSampler::LengthForAverage(average), length);
        EXPECT_EQ(AverageCaption(average), caption);
    }
}

TEST(Sampler, CpuMethodQueriesTheMeterAndClampsFarOffReadings) {
    struct Case {
        std::int64_t idleDiff, timeDiff;  // per tick, one processor
        std::int16_t length;
    };
    const Case cases[] = {
        {250, 1000, 80},  // 75 % busy
        {49, -1, 105},    // the meter answers 5000
        {31, 1, 4},       // the meter answers -3000
        {0, 0, 105},      // no time passed: 100
    };
    for (const Case& k : cases) {
        ScriptedCounters counters;
        cpuinfo meter(counters);
        meter.Initialize();
        ScriptedMemory memory;
        LoadSampler sampler(memory);
        sampler.CrawletMethod = kMethodCpu;
        SampleOutcome outcome{};
        for (int tick = 0; tick < 6; ++tick) {
            counters.Advance(k.idleDiff, k.timeDiff);
            outcome = sampler.Tick(&meter);
        }
        EXPECT_EQ(outcome, SampleOutcome::Averaged);
        EXPECT_EQ(LoadSampler::LengthForAverage(sampler.SampleValue), k.length) << k.idleDiff;
    }
}

TEST(Sampler, AMinuteOfFailedCpuReadingsGivesLengthFour) {
    ScriptedCounters counters;
    cpuinfo meter(counters);
    meter.Initialize();
    counters.idle.reset();
    ScriptedMemory memory;
    // A meter whose readings fail, and no meter at all, count alike.
    for (cpuinfo* given : {&meter, static_cast<cpuinfo*>(nullptr)}) {
        LoadSampler sampler(memory);
        sampler.CrawletMethod = kMethodCpu;
        for (int tick = 0; tick < 6; ++tick) {
            sampler.Tick(given);
        }
        EXPECT_EQ(sampler.SampleValue, -1) << (given ? "meter" : "none");
        EXPECT_EQ(LoadSampler::LengthForAverage(sampler.SampleValue), 4);
    }
}

TEST(Sampler, MemorySampleIsTheShareOfTheCommitLimitInUse) {
    const std::pair<std::optional<MemoryStatus>, std::int32_t> cases[] = {
        {MemoryStatus{800, 300}, 62},  // 62.5, half to even
        {MemoryStatus{800, 100}, 88},  // 87.5
        {MemoryStatus{1000, 1000}, 0},
        {MemoryStatus{1000, 0}, 100},
        {MemoryStatus{3 * kGiB, 1 * kGiB}, 67},  // above 2^31: no sign trouble
        {MemoryStatus{8 * kGiB, 6 * kGiB}, 25},  // above 2^32: no truncation
        {MemoryStatus{4 * kGiB + 800, 4 * kGiB + 300}, 0},
        {MemoryStatus{64 * kGiB, 16 * kGiB}, 75},
        {MemoryStatus{800, 900}, -1},  // more available than the total: clamped
        {MemoryStatus{0, 0}, -1},
        {std::nullopt, -1},
    };
    for (const auto& [status, sample] : cases) {
        ScriptedMemory memory;
        memory.readings = {status};
        EXPECT_EQ(MemorySample(memory), sample)
            << (status ? status->total : 0) << "/" << (status ? status->available : 0);
    }

    ScriptedMemory memory;
    memory.readings = {MemoryStatus{800, 300}, MemoryStatus{800, 400}, MemoryStatus{800, 0}};
    LoadSampler sampler(memory);
    sampler.CrawletMethod = kMethodMemory;
    for (const std::int32_t expected : {62, 50, 100, 100, 100}) {
        EXPECT_EQ(sampler.Tick(nullptr), SampleOutcome::Sampled);
        EXPECT_EQ(sampler.SampleValue, expected);
    }
    EXPECT_EQ(sampler.Tick(nullptr), SampleOutcome::Averaged);
    EXPECT_EQ(sampler.SampleValue, 85);  // 512 / 6 = 85.33
}

TEST(Sampler, MethodThreeRepeatsTheValueLeftInSampleValue) {
    ScriptedMemory memory;
    LoadSampler sampler(memory);
    sampler.CrawletMethod = kMethodNone;
    sampler.SampleValue = 1;
    for (int tick = 1; tick <= 18; ++tick) {
        EXPECT_EQ(sampler.Tick(nullptr),
                  tick % 6 == 0 ? SampleOutcome::Averaged : SampleOutcome::Sampled);
        EXPECT_EQ(sampler.SampleValue, 1);
        EXPECT_EQ(sampler.SampleCount, tick % 6);
    }
}

TEST(Sampler, AnInvalidMethodCodeIsReported) {
    for (const std::int16_t method : std::initializer_list<std::int16_t>{0, 4, 7, -1, 32767}) {
        ScriptedMemory memory;
        LoadSampler sampler(memory);
        sampler.CrawletMethod = method;
        EXPECT_EQ(sampler.Tick(nullptr), SampleOutcome::InvalidMethod) << method;
    }
}

}  // namespace
}  // namespace quillomir
