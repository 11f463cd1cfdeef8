#include "measure/cpuinfo.h"

#include <cmath>
#include <limits>

namespace quillomir {

void cpuinfo::Initialize() {
    const auto systemTime = source_.SystemTime();
    if (!systemTime) {
        return;
    }
    const auto idleTime = source_.IdleTime();
    if (!idleTime) {
        return;
    }
    oldIdleTime_ = ReadLargeInteger(*idleTime);
    oldSystemTime_ = ReadLargeInteger(*systemTime);
}

std::int32_t cpuinfo::Query() {
    const auto processors = source_.ProcessorCount();
    if (!processors) {
        return kFailed;
    }
    const auto systemTime = source_.SystemTime();
    if (!systemTime) {
        return kFailed;
    }
    const auto idleTime = source_.IdleTime();
    if (!idleTime) {
        return kFailed;
    }
    // No processors cannot be a true reading, and dividing by it has no meaning.
    if (*processors == 0) {
        return kFailed;
    }

    const FixedPoint newIdle = ReadLargeInteger(*idleTime);
    const FixedPoint newSystem = ReadLargeInteger(*systemTime);
    const FixedPoint idleDiff = newIdle - oldIdleTime_;
    const FixedPoint timeDiff = newSystem - oldSystemTime_;

    FixedPoint ratio = idleDiff;
    if (timeDiff.Raw() != 0) {
        ratio = FixedPoint::FromDouble(static_cast<double>(idleDiff.Raw()) /
                                       static_cast<double>(timeDiff.Raw()));
    }
    const double idleShare =
        (FixedPoint::FromInteger(100) * ratio).ToDouble() / static_cast<double>(*processors);
    const std::int64_t busy = FixedPoint::FromDouble(100.0 - idleShare + 0.5).Floor();

    oldIdleTime_ = newIdle;
    oldSystemTime_ = newSystem;

    // A clock set back gives a far-off value; it is passed on, but never wraps.
    if (busy > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (busy < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(busy);
}

}  // namespace quillomir
