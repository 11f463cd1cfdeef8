// The load sampler: one sample every tick, the minute's average every sixth.
#pragma once

#include <cstdint>
#include <string>

#include "measure/counter_source.h"
#include "measure/cpuinfo.h"

namespace quillomir {

// Load method codes, as stored in the "CrawletMethod" setting.
inline constexpr std::int16_t kMethodCpu = 1;
inline constexpr std::int16_t kMethodMemory = 2;
inline constexpr std::int16_t kMethodNone = 3;

inline constexpr int kSamplesPerAverage = 6;
inline constexpr std::int32_t kMinSample = -1;  // the meter's failure value
inline constexpr std::int32_t kMaxSample = 100;
inline constexpr std::int32_t kLengthOffset = 5;  // length = average + 5

inline constexpr const char* kUnknownMethodMessage = "Unknown Monitor Method Type.";

// The percentage of the commit limit in use, rounded half to even; -1 when the
// reading failed or has no total.
std::int32_t MemorySample(MemorySource& memory);

// The label's text for an average: "37 %", "-1 %".
std::string AverageCaption(std::int32_t average);

enum class SampleOutcome {
    Sampled,       // a sample was taken; nothing visible changes
    Averaged,      // a minute ended: SampleValue holds the new average
    InvalidMethod  // the method code is none of 1, 2, 3
};

// The sampler's members of the saver window, and its tick.
class LoadSampler {
  public:
    explicit LoadSampler(MemorySource& memory) : memory_(memory) {}

    std::int16_t CrawletMethod = 0;
    std::int32_t SampleValue = 0;
    std::int32_t SampleSum = 0;
    std::int16_t SampleCount = 0;

    // One Timer2 tick. The CPU method reads `meter`, the saver window's own, and
    // counts a failed reading when there is none. On Averaged, the caller sets
    // the crawlet's length to LengthForAverage(SampleValue) and the label to
    // AverageCaption(SampleValue).
    SampleOutcome Tick(cpuinfo* meter);

    // Average + 5, narrowed to 16 bits. Samples are clamped to -1..100, so this
    // is always 4..105.
    static std::int16_t LengthForAverage(std::int32_t average);

  private:
    MemorySource& memory_;
};

}  // namespace quillomir
