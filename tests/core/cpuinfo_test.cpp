// the CPU meter's arithmetic and its failures.
#include "measure/cpuinfo.h"

#include <gtest/gtest.h>

#include <limits>

#include "fakes.h"

namespace quillomir {
namespace {

using fakes::ScriptedCounters;

constexpr std::uint64_t kIdleBase = 123'456'789'000;
constexpr std::uint64_t kTimeBase = 987'654'321'000;

TEST(CpuInfoQuery, BusyShareRoundedHalfUp) {
    struct Case {
        std::uint32_t processors;
        std::int64_t idleDiff, timeDiff;
        std::int32_t expected;
    };
    const Case cases[] = {
        {2, 50'000'000, 100'000'000, 75},  // ratio 0.5, idle share 25
        {1, 1, 3, 67},                     // ratio held as 0.3333
        {1, 0, 0, 100},                    // no time passed: the idle difference stands
        {1, 100'000'000, 100'000'000, 0},
        {1, 0, 100'000'000, 100},
        {1, 375, 1000, 63},  // idle share 37.5
        {1, 374, 1000, 63},  // 37.4
        {1, 376, 1000, 62},  // 37.6
        // The ratio 0.37504 is held as 0.3750, so the idle share is exactly 37.5
        // and rounds up to 63; unrounded it would be 37.504 and give 62.
        {1, 37'504, 100'000, 63},
        {4, 300'000'000, 100'000'000, 25},
        // A clock set back: far outside 0..100, passed on unclamped.
        {1, 50'000'000, -100'000'000, 150},
        {1, 49, -1, 5000},
        {1, 31, 1, -3000},
        // Beyond every range: saturates instead of overflowing.
        {1, 4'000'000'000'000'000'000, -1, std::numeric_limits<std::int32_t>::max()},
        {1, -4'000'000'000'000'000'000, 1, std::numeric_limits<std::int32_t>::max()},
        {1, 4'000'000'000'000'000'000, 1, std::numeric_limits<std::int32_t>::min()},
    };
    for (const Case& k : cases) {
        ScriptedCounters counters;
        counters.idle = kIdleBase;
        counters.system = kTimeBase;
        cpuinfo meter(counters);
        meter.Initialize();
        counters.processors = k.processors;
        counters.Advance(k.idleDiff, k.timeDiff);
        EXPECT_EQ(meter.Query(), k.expected)
            << k.processors << " cpus, idle " << k.idleDiff << ", time " << k.timeDiff;
    }
}

TEST(CpuInfoQuery, EachQueryMeasuresFromThePreviousOne) {
    ScriptedCounters counters;
    cpuinfo meter(counters);
    meter.Initialize();
    EXPECT_EQ(counters.log, "SI");  // time of day, then performance
    counters.Advance(250, 1000);
    EXPECT_EQ(meter.Query(), 75);
    EXPECT_EQ(counters.log, "SIPSI");  // basic, time of day, performance
    counters.Advance(900, 1000);
    EXPECT_EQ(meter.Query(), 10);
    EXPECT_EQ(meter.OldIdleTime(), FixedPoint::FromRaw(1150));
    EXPECT_EQ(meter.OldSystemTime(), FixedPoint::FromRaw(2000));
}

TEST(CpuInfoQuery, AFailedReadingAnswersMinusOneAndKeepsTheBaseline) {
    // Each failure, with the queries made: they stop at the first failed one.
    const std::pair<const char*, void (*)(ScriptedCounters&)> failures[] = {
        {"P", [](ScriptedCounters& c) { c.processors.reset(); }},
        {"PS", [](ScriptedCounters& c) { c.system.reset(); }},
        {"PSI", [](ScriptedCounters& c) { c.idle.reset(); }},
        {"PSI", [](ScriptedCounters& c) { c.processors = 0; }},
    };
    for (const auto& [queries, fail] : failures) {
        ScriptedCounters counters;
        counters.idle = kIdleBase;
        counters.system = kTimeBase;
        cpuinfo meter(counters);
        meter.Initialize();
        counters.Advance(100, 1000);
        const ScriptedCounters good = counters;
        fail(counters);
        counters.log.clear();
        EXPECT_EQ(meter.Query(), -1);
        EXPECT_EQ(counters.log, queries);
        EXPECT_EQ(meter.OldIdleTime(), FixedPoint::FromRaw(kIdleBase));
        EXPECT_EQ(meter.OldSystemTime(), FixedPoint::FromRaw(kTimeBase));

        counters = good;
        counters.Advance(400, 1000);  // 500 idle of 2000 since the good baseline
        EXPECT_EQ(meter.Query(), 75);
    }
}

TEST(CpuInfoInitialize, AFailedReadingKeepsTheOldBaseline) {
    ScriptedCounters counters;
    counters.idle = 500;
    counters.system = 1000;
    cpuinfo meter(counters);
    counters.system.reset();
    meter.Initialize();
    EXPECT_EQ(counters.log, "S");
    counters.system = 1000;
    counters.idle.reset();
    meter.Initialize();
    EXPECT_EQ(meter.OldIdleTime(), FixedPoint::FromRaw(0));
    EXPECT_EQ(meter.OldSystemTime(), FixedPoint::FromRaw(0));
    counters.idle = 500;
    EXPECT_EQ(meter.Query(), 50);  // measured from zero
}

TEST(FixedPoint, FromDoubleRoundsToTenThousandthsTiesToEven) {
    const std::pair<double, std::int64_t> cases[] = {
        {0.00125, 12},   {0.00135, 14},      {0.00025, 2},      {0.00035, 4},   {-0.00125, -12},
        {-0.00135, -14}, {0.33333333, 3333}, {0.6666666, 6667}, {63.0, 630000}, {0, 0},
    };
    for (const auto& [value, raw] : cases) {
        EXPECT_EQ(FixedPoint::FromDouble(value).Raw(), raw) << value;
    }
    // The ties above are exact in binary after the scaling.
    EXPECT_EQ(0.00125 * 10000, 12.5);
    EXPECT_EQ(0.00135 * 10000, 13.5);
}

TEST(FixedPoint, ConversionsSaturateAndFloorRoundsDown) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FixedPoint::FromDouble(1e300).Raw(), kMax);
    EXPECT_EQ(FixedPoint::FromDouble(inf).Raw(), kMax);
    EXPECT_EQ(FixedPoint::FromDouble(-1e300).Raw(), kMin);
    EXPECT_EQ(FixedPoint::FromDouble(-inf).Raw(), kMin);
    EXPECT_EQ(FixedPoint::FromDouble(std::numeric_limits<double>::quiet_NaN()).Raw(), 0);
    EXPECT_EQ(FixedPoint::FromInteger(100).Raw(), 1'000'000);
    EXPECT_EQ(FixedPoint::FromInteger(kMax / 10000 + 1).Raw(), kMax);
    EXPECT_EQ(FixedPoint::FromInteger(kMin).Raw(), kMin);
    EXPECT_EQ((FixedPoint::FromRaw(kMax) * FixedPoint::FromInteger(2)).Raw(), kMax);
    EXPECT_EQ((FixedPoint::FromRaw(kMax) * FixedPoint::FromInteger(-2)).Raw(), kMin);
    EXPECT_EQ((FixedPoint::FromInteger(100) * FixedPoint::FromRaw(3333)).Raw(), 333'300);
    // Counters are raw bytes, and their differences wrap like the registers.
    EXPECT_EQ(FixedPoint::FromBytes(~std::uint64_t{0}).Raw(), -1);
    EXPECT_EQ((FixedPoint::FromRaw(kMin) - FixedPoint::FromRaw(1)).Raw(), kMax);

    const std::pair<std::int64_t, std::int64_t> floors[] = {
        {0, 0},
        {9999, 0},
        {10000, 1},
        {-1, -1},
        {-10000, -1},
        {-10001, -2},
        {kMin, kMin / 10000 - 1},
    };
    for (const auto& [raw, floor] : floors) {
        EXPECT_EQ(FixedPoint::FromRaw(raw).Floor(), floor) << raw;
    }
}

}  // namespace
}  // namespace quillomir
