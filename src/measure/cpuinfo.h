// The CPU utilization meter: busy share of the time between two readings.
#pragma once

#include <cstdint>

#include "measure/counter_source.h"
#include "measure/fixed_point.h"

namespace quillomir {

class cpuinfo {
  public:
    static constexpr std::int32_t kFailed = -1;

    explicit cpuinfo(CounterSource& source) : source_(source) {}

    // Takes the baseline. A failed reading keeps the old one, silently.
    void Initialize();
    // Percent busy since the last successful reading, or -1 when a reading failed
    // (the baseline then stays where it was).
    std::int32_t Query();
    void Terminate() {}

    FixedPoint OldIdleTime() const { return oldIdleTime_; }
    FixedPoint OldSystemTime() const { return oldSystemTime_; }

  private:
    static FixedPoint ReadLargeInteger(std::uint64_t rawBytes) {
        return FixedPoint::FromBytes(rawBytes);
    }

    CounterSource& source_;
    FixedPoint oldIdleTime_;
    FixedPoint oldSystemTime_;
};

}  // namespace quillomir
