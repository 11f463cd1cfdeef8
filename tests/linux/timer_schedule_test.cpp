// The saver's timers: one wake-up serves both, and a late wake keeps the phase.
#include "timer_schedule.h"

#include <gtest/gtest.h>

namespace quillomir::linux_host {
namespace {

TEST(Timers, TheTenSecondTickSharesTheOneSecondWakeUp) {
    using namespace std::chrono_literals;
    TimerSchedule timers;
    const auto t0 = TimerSchedule::Clock::time_point{} + 1000s;
    EXPECT_EQ(timers.TimeoutMs(t0), std::nullopt) << "nothing runs: wait for events only";
    timers.Start(SaverTimer::Timer1, 1000, t0);
    timers.Start(SaverTimer::Timer2, 10000, t0 + 3ms);  // the load's next statement
    EXPECT_EQ(timers.TimeoutMs(t0 + 3ms), 997);
    EXPECT_EQ(timers.TimeoutMs(t0 + 999ms + 500us), 1) << "rounded up, never early";
    EXPECT_TRUE(timers.TakeDue(t0 + 999ms).empty());

    int wakeUps = 0, ones = 0, tens = 0;
    auto now = t0;
    while (now < t0 + 60s) {
        now += std::chrono::milliseconds(*timers.TimeoutMs(now));
        const auto due = timers.TakeDue(now);
        ++wakeUps;
        for (const SaverTimer t : due) {
            (t == SaverTimer::Timer1 ? ones : tens) += 1;
        }
    }
    EXPECT_EQ(ones, 60);
    EXPECT_EQ(tens, 6);
    EXPECT_EQ(wakeUps, 60) << "no separate wake-up for the ten-second timer";
}

TEST(Timers, ALateWakeRunsEachTimerOnceAndKeepsThePhase) {
    using namespace std::chrono_literals;
    TimerSchedule timers;
    const auto t0 = TimerSchedule::Clock::time_point{} + 1000s;
    timers.Start(SaverTimer::Timer1, 1000, t0);
    // Suspended for 5.5 s: one tick, not five, and the next on the old phase.
    const auto due = timers.TakeDue(t0 + 5500ms);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(timers.TimeoutMs(t0 + 5500ms), 500);
}

}  // namespace
}  // namespace quillomir::linux_host
