#include "measure/sampler.h"

#include <algorithm>
#include <cmath>

namespace quillomir {

std::int32_t MemorySample(MemorySource& memory) {
    const auto status = memory.Read();
    if (!status || status->total == 0) {
        return kMinSample;
    }
    // Unsigned 64-bit, so machines with more than 2 GiB of commit read correctly.
    const double total = static_cast<double>(status->total);
    const double available = static_cast<double>(status->available);
    const double percent = (total - available) / total * 100.0;
    return static_cast<std::int32_t>(
        std::lrint(std::clamp(percent, static_cast<double>(kMinSample), 100.0)));
}

std::string AverageCaption(std::int32_t average) {
    return std::to_string(average) + " %";
}

std::int16_t LoadSampler::LengthForAverage(std::int32_t average) {
    return static_cast<std::int16_t>(average + kLengthOffset);
}

SampleOutcome LoadSampler::Tick(cpuinfo* meter) {
    SampleCount = static_cast<std::int16_t>(SampleCount + 1);

    switch (CrawletMethod) {
        case kMethodCpu:
            SampleValue = meter ? meter->Query() : cpuinfo::kFailed;
            break;
        case kMethodMemory:
            SampleValue = MemorySample(memory_);
            break;
        case kMethodNone:
            break;  // the previous value counts again
        default:
            return SampleOutcome::InvalidMethod;
    }

    // A clock set back can push a CPU reading far outside 0..100; unclamped, the
    // average would drive the length outside the segment table.
    SampleValue = std::clamp(SampleValue, kMinSample, kMaxSample);
    SampleSum = static_cast<std::int32_t>(static_cast<double>(SampleSum) + SampleValue);

    if (SampleCount < kSamplesPerAverage) {
        return SampleOutcome::Sampled;
    }
    SampleValue =
        static_cast<std::int32_t>(std::lrint(static_cast<double>(SampleSum) / kSamplesPerAverage));
    SampleCount = 0;
    SampleSum = 0;
    return SampleOutcome::Averaged;
}

}  // namespace quillomir
