#include "timer_schedule.h"

#include <algorithm>

namespace quillomir::linux_host {

namespace {

std::size_t IndexOf(SaverTimer timer) {
    return timer == SaverTimer::Timer1 ? 0 : 1;
}

}  // namespace

void TimerSchedule::Start(SaverTimer timer, std::uint32_t intervalMs, Clock::time_point now) {
    Entry& entry = entries_[IndexOf(timer)];
    entry.running = intervalMs > 0;
    entry.interval = std::chrono::milliseconds(intervalMs);
    // Timers started in the same moment (as the load does) share one base, so
    // their deadlines coincide wherever the intervals allow.
    if (!base_ || now - *base_ > std::chrono::milliseconds(50)) {
        base_ = now;
    }
    entry.deadline = *base_ + entry.interval;
}

std::optional<int> TimerSchedule::TimeoutMs(Clock::time_point now) const {
    std::optional<Clock::time_point> first;
    for (const Entry& entry : entries_) {
        if (entry.running && (!first || entry.deadline < *first)) {
            first = entry.deadline;
        }
    }
    if (!first) {
        return std::nullopt;
    }
    if (*first <= now) {
        return 0;
    }
    const auto wait = *first - now;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, 24 * 3600 * 1000));
}

std::vector<SaverTimer> TimerSchedule::TakeDue(Clock::time_point now) {
    std::vector<SaverTimer> due;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (!entry.running || entry.deadline > now) {
            continue;
        }
        due.push_back(i == 0 ? SaverTimer::Timer1 : SaverTimer::Timer2);
        // Keep the phase (no drift), but skip ticks that are already past.
        const auto behind = (now - entry.deadline) / entry.interval;
        entry.deadline += entry.interval * (behind + 1);
    }
    return due;
}

}  // namespace quillomir::linux_host
