// The saver's two periodic timers on one monotonic clock: when the loop must
// wake next, and which timers are due then. Timers started together stay in
// step, so the ten-second tick shares its wake-up with the one-second tick.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "saver/saver_host.h"

namespace quillomir::linux_host {

class TimerSchedule {
  public:
    using Clock = std::chrono::steady_clock;

    void Start(SaverTimer timer, std::uint32_t intervalMs, Clock::time_point now);

    // Milliseconds until the first due timer (0 when one is due; rounded up so
    // that the wake comes no earlier than the deadline); empty when none runs.
    std::optional<int> TimeoutMs(Clock::time_point now) const;

    // The timers due at `now`, in order Timer1, Timer2; each moves to its next
    // deadline. Ticks missed while the machine slept are not replayed.
    std::vector<SaverTimer> TakeDue(Clock::time_point now);

  private:
    struct Entry {
        bool running = false;
        Clock::duration interval{};
        Clock::time_point deadline{};
    };
    std::array<Entry, 2> entries_{};
    std::optional<Clock::time_point> base_;  // the first start: later ones align to it
};

}  // namespace quillomir::linux_host
