// The time of day that seeds the crawlet's first heading.
#pragma once

#include <cstdint>
#include <ctime>

namespace quillomir::linux_host {

inline std::int32_t SecondsSinceMidnight() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

}  // namespace quillomir::linux_host
