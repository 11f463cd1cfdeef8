// The sampling half of the same-job floors: a one-second wake (a timerfd, so
// that events in between do not shift it) and, every tenth wake, a read of
// /proc/stat and /proc/meminfo, as the saver's load sampler does.
#pragma once

#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace bench {

inline int OneSecondTimer() {
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const itimerspec every{{1, 0}, {1, 0}};
    if (fd >= 0) {
        timerfd_settime(fd, 0, &every, nullptr);
    }
    return fd;
}

// Takes the timer's expiry count; true when one has passed.
inline bool TimerFired(int fd) {
    std::uint64_t expiries = 0;
    return read(fd, &expiries, sizeof expiries) == sizeof expiries && expiries > 0;
}

// Reads a whole /proc file and drops it; what counts is that the kernel builds it.
inline void ReadWhole(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char buffer[8192];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
}

inline void SampleLoad(unsigned wake) {
    if (wake % 10 == 0) {
        ReadWhole("/proc/stat");
        ReadWhole("/proc/meminfo");
    }
}

// Where the n-th disc goes: a walk across the screen, inside it.
struct DiscPlace {
    int x;
    int y;
};
inline DiscPlace PlaceOf(unsigned n, int width, int height, int diameter) {
    const int spanX = width > diameter ? width - diameter : 1;
    const int spanY = height > diameter ? height - diameter : 1;
    return {static_cast<int>((n * 37u) % static_cast<unsigned>(spanX)),
            static_cast<int>((n * 23u) % static_cast<unsigned>(spanY))};
}

// The crawlet's disc at 96 dpi: a radius of 120 twips is 8 pixels.
inline constexpr int kDiscDiameter = 16;

}  // namespace bench
