#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>

#include "measure/cpuinfo.h"
#include "memory_status.h"
#include "nt_counters.h"

namespace quillomir::win32 {

void PrintTo(NtCounterSource::Path path, std::ostream* out) {
    *out << (path == NtCounterSource::Path::kSystemInformation ? "SystemInformation"
                                                               : "Kernel32Only");
}

namespace {

void SpinFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    volatile std::uint64_t sink = 0;
    while (std::chrono::steady_clock::now() < end) {
        sink = sink + 1;
    }
}

class CounterPaths : public ::testing::TestWithParam<NtCounterSource::Path> {};

TEST_P(CounterPaths, ReadingsSucceedAndMoveForward) {
    NtCounterSource source(GetParam());
    EXPECT_EQ(source.HasSystemInformation(),
              GetParam() == NtCounterSource::Path::kSystemInformation);

    // The time total sums the processors already: nothing is left to divide by.
    EXPECT_EQ(source.ProcessorCount(), std::optional<std::uint32_t>(1));

    const auto time1 = source.SystemTime();
    const auto idle1 = source.IdleTime();
    ASSERT_TRUE(idle1 && time1);
    Sleep(50);
    const auto time2 = source.SystemTime();
    const auto idle2 = source.IdleTime();
    ASSERT_TRUE(idle2 && time2);
    EXPECT_GE(*idle2, *idle1);
    // 50 ms on each processor is 500 000 units of 100 ns; allow for a coarse clock.
    EXPECT_GE(*time2 - *time1, 300'000u);
    EXPECT_LT(*time2 - *time1, 100'000'000u * GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    // Kernel time includes idle time, so the idle part never exceeds the whole.
    EXPECT_LE(*idle2 - *idle1, *time2 - *time1);
    EXPECT_LE(*idle2, *time2);
    EXPECT_EQ(source.UsedKernel32(), GetParam() == NtCounterSource::Path::kKernel32Only);
    if (GetParam() == NtCounterSource::Path::kSystemInformation) {
        // Every processor; with several processor groups, those of one group.
        const DWORD all = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
        if (GetActiveProcessorGroupCount() == 1) {
            EXPECT_EQ(source.ProcessorsSummed(), all);
        } else {
            EXPECT_GE(source.ProcessorsSummed(), 1u);
            EXPECT_LE(source.ProcessorsSummed(), all);
        }
    }
}

TEST_P(CounterPaths, CpuMeterGivesAPercentage) {
    NtCounterSource source(GetParam());
    cpuinfo meter(source);
    meter.Initialize();
    EXPECT_NE(meter.OldSystemTime().Raw(), 0) << "baseline taken";
    SpinFor(std::chrono::milliseconds(100));
    const std::int32_t busy = meter.Query();
    EXPECT_GE(busy, 0);
    EXPECT_LE(busy, 100);
}

INSTANTIATE_TEST_SUITE_P(Win32, CounterPaths,
                         ::testing::Values(NtCounterSource::Path::kSystemInformation,
                                           NtCounterSource::Path::kKernel32Only),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

// A machine of `g_processors` processors whose 32-bit view is capped: the basic
// query says 32, while the idle counter of the performance query sums them all.
// Each step moves every processor on by 10 s, a quarter of it busy.
std::uint32_t g_processors = 64;
std::uint64_t g_step = 0;
unsigned long g_biggestBuffer = 0;

constexpr std::uint64_t kStepUnits = 100'000'000;  // 10 s in 100-ns units
constexpr std::uint64_t kIdlePerStep = 75'000'000;
constexpr std::uint64_t kUserPerStep = 15'000'000;

long __stdcall CappedViewQuery(unsigned long infoClass, void* buffer, unsigned long size,
                               unsigned long* returned) {
    g_biggestBuffer = std::max(g_biggestBuffer, size);
    const std::uint64_t idlePerCpu = 5'000'000'000 + g_step * kIdlePerStep;
    std::memset(buffer, 0, size);
    switch (infoClass) {
        case 0: {  // basic information, as WOW64 caps it
            auto* basic = static_cast<SYSTEM_BASIC_INFORMATION*>(buffer);
            basic->NumberOfProcessors = 32;
            return 0;
        }
        case 2: {  // performance information: the idle time of all processors
            const std::uint64_t idle = idlePerCpu * g_processors;
            std::memcpy(buffer, &idle, sizeof idle);
            return 0;
        }
        case 3: {  // time of day: one clock
            const std::uint64_t now = 130'000'000'000'000'000 + g_step * kStepUnits;
            std::memcpy(static_cast<char*>(buffer) + 8, &now, sizeof now);
            return 0;
        }
        case 8: {  // per processor: idle, kernel (idle included), user
            const unsigned long needed =
                g_processors * sizeof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION);
            if (size < needed) {
                return static_cast<long>(0xC0000004L);  // STATUS_INFO_LENGTH_MISMATCH
            }
            auto* records = static_cast<SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION*>(buffer);
            for (std::uint32_t i = 0; i < g_processors; ++i) {
                const std::uint64_t user = 1'000'000'000 + g_step * kUserPerStep;
                const std::uint64_t kernel = idlePerCpu + 2'000'000'000 +
                                             g_step * (kStepUnits - kIdlePerStep - kUserPerStep);
                records[i].IdleTime.QuadPart = static_cast<LONGLONG>(idlePerCpu);
                records[i].KernelTime.QuadPart = static_cast<LONGLONG>(kernel);
                records[i].UserTime.QuadPart = static_cast<LONGLONG>(user);
            }
            *returned = needed;
            return 0;
        }
        default:
            return static_cast<long>(0xC0000003L);  // STATUS_INVALID_INFO_CLASS
    }
}

TEST(CounterTotals, AnIdleCounterWiderThanTheProcessorCountStillGivesTheTrueShare) {
    for (const std::uint32_t processors : {64u, 48u, 100u}) {
        g_processors = processors;
        g_step = 0;
        g_biggestBuffer = 0;
        NtCounterSource source(&CappedViewQuery);
        cpuinfo meter(source);
        meter.Initialize();
        for (int i = 1; i <= 3; ++i) {
            g_step = static_cast<std::uint64_t>(i);
            EXPECT_EQ(meter.Query(), 25) << processors << " processors, query " << i;
        }
        EXPECT_EQ(source.ProcessorsSummed(), processors);
        EXPECT_FALSE(source.UsedKernel32());
        if (processors > 64) {
            EXPECT_GE(g_biggestBuffer,
                      processors * sizeof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION))
                << "the buffer grows when the kernel asks for more";
        }
    }
}

long __stdcall FailingQuery(unsigned long, void*, unsigned long, unsigned long*) {
    return static_cast<long>(0xC0000001L);  // STATUS_UNSUCCESSFUL
}

long __stdcall MissingQuery(unsigned long, void*, unsigned long, unsigned long*) {
    return static_cast<long>(0xC0000003L);  // STATUS_INVALID_INFO_CLASS
}

TEST(CounterTotals, AFailedQueryFailsAndAMissingOneFallsBackToKernel32) {
    NtCounterSource failing(&FailingQuery);
    EXPECT_FALSE(failing.SystemTime().has_value());
    EXPECT_FALSE(failing.IdleTime().has_value());
    EXPECT_FALSE(failing.UsedKernel32());

    NtCounterSource missing(&MissingQuery);
    const auto time = missing.SystemTime();
    const auto idle = missing.IdleTime();
    ASSERT_TRUE(time && idle);
    EXPECT_LE(*idle, *time);
    EXPECT_TRUE(missing.UsedKernel32());
}

TEST(GlobalMemorySource, CommitLimitCoversWhatIsAvailable) {
    GlobalMemorySource memory;
    const auto status = memory.Read();
    ASSERT_TRUE(status.has_value());
    EXPECT_GT(status->available, 0u);
    EXPECT_GE(status->total, status->available);
}

}  // namespace
}  // namespace quillomir::win32
