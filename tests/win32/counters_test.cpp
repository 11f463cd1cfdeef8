#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
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

    const auto processors = source.ProcessorCount();
    ASSERT_TRUE(processors.has_value());
    EXPECT_GE(*processors, 1u);
    EXPECT_EQ(*processors, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    EXPECT_EQ(*processors, info.dwNumberOfProcessors);

    const auto idle1 = source.IdleTime();
    const auto time1 = source.SystemTime();
    ASSERT_TRUE(idle1 && time1);
    Sleep(50);
    const auto idle2 = source.IdleTime();
    const auto time2 = source.SystemTime();
    ASSERT_TRUE(idle2 && time2);
    EXPECT_GE(*idle2, *idle1);
    // 50 ms is 500 000 units of 100 ns; allow for a coarse clock.
    EXPECT_GE(*time2 - *time1, 300'000u);
    EXPECT_LT(*time2 - *time1, 100'000'000u);
    // Same unit and epoch as the file-time clock.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t fileTime =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    EXPECT_LT(fileTime - *time2, 10'000'000u) << "within a second of the file time";
    EXPECT_EQ(source.UsedKernel32(), GetParam() == NtCounterSource::Path::kKernel32Only);
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

TEST(GlobalMemorySource, CommitLimitCoversWhatIsAvailable) {
    GlobalMemorySource memory;
    const auto status = memory.Read();
    ASSERT_TRUE(status.has_value());
    EXPECT_GT(status->available, 0u);
    EXPECT_GE(status->total, status->available);
}

}  // namespace
}  // namespace quillomir::win32
