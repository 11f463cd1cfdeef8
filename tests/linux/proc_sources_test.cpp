#include "proc_sources.h"

#include <gtest/gtest.h>

#include <fstream>

#include "linux/scratch_dir.h"
#include "measure/cpuinfo.h"
#include "measure/sampler.h"

namespace quillomir::linux_host {
namespace {

// Recorded from a 4-thread machine running kernel 6.1, trimmed after "intr".
constexpr std::string_view kProcStat =
    "cpu  265431 1234 80312 9876543 4321 0 5678 9 100 7\n"
    "cpu0 66000 300 20000 2469000 1000 0 1400 2 25 2\n"
    "intr 1234567 0 9 0 0\n";

// Recorded /proc/meminfo of the same machine (the first lines and the swap).
constexpr std::string_view kMeminfo =
    "MemTotal:        8000000 kB\n"
    "MemFree:         1000000 kB\n"
    "MemAvailable:    5000000 kB\n"
    "Buffers:          200000 kB\n"
    "Cached:          3000000 kB\n"
    "SwapCached:            0 kB\n"
    "SwapTotal:       2000000 kB\n"
    "SwapFree:        1000000 kB\n"
    "HugePages_Total:       0\n"
    "Hugepagesize:       2048 kB\n";

TEST(ProcStatParser, SumsTheAggregateLineWithoutCountingGuestTimeTwice) {
    const auto ticks = ParseProcStat(kProcStat);
    ASSERT_TRUE(ticks);
    EXPECT_EQ(ticks->idle, 9876543u + 4321u);
    // user nice system idle iowait irq softirq steal; guest and guest_nice are
    // already part of user and nice.
    EXPECT_EQ(ticks->total, 265431u + 1234u + 80312u + 9876543u + 4321u + 0u + 5678u + 9u);

    // Old kernels stop after idle; the fields that exist are used.
    const auto old = ParseProcStat("cpu 10 20 30 40\n");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->idle, 40u);
    EXPECT_EQ(old->total, 100u);
    // Fields a later kernel might add after guest_nice are not summed.
    EXPECT_EQ(ParseProcStat("cpu 1 1 1 1 1 1 1 1 1 1 999")->total, 8u);
    EXPECT_TRUE(ParseProcStat("cpu\t1 2 3 4")) << "tabs and no newline";
}

TEST(ProcStatParser, RejectsMalformedText) {
    EXPECT_FALSE(ParseProcStat(""));
    EXPECT_FALSE(ParseProcStat("cpu0 1 2 3 4 5\n")) << "a single processor's line";
    EXPECT_FALSE(ParseProcStat("intr 1 2\ncpu 1 2 3 4\n")) << "aggregate line not first";
    EXPECT_FALSE(ParseProcStat("cpu 1 2 3\n")) << "no idle field";
    EXPECT_FALSE(ParseProcStat("cpu 1 2 -3 4\n"));
    EXPECT_FALSE(ParseProcStat("cpu 1 2 3 4x 5\n"));
    EXPECT_FALSE(ParseProcStat("cpu 1 2 3 18446744073709551616\n")) << "beyond 64 bits";
    EXPECT_FALSE(ParseProcStat("cpu 18446744073709551615 1 0 0\n")) << "sum beyond 64 bits";
    EXPECT_FALSE(ParseProcStat("cpus 1 2 3 4\n"));
}

TEST(MeminfoParser, RamAndSwapTogetherInBytes) {
    const auto status = ParseMeminfo(kMeminfo);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->total, (8000000ull + 2000000ull) * 1024u);
    EXPECT_EQ(status->available, (5000000ull + 1000000ull) * 1024u);

    // No swap at all is common; the figure is then RAM alone.
    const auto noSwap =
        ParseMeminfo("MemTotal: 1000 kB\nMemAvailable: 250 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n");
    ASSERT_TRUE(noSwap);
    EXPECT_EQ(noSwap->total, 1000u * 1024u);
    EXPECT_EQ(noSwap->available, 250u * 1024u);
    // An estimate above the total reads as nothing in use, not as a negative share.
    const auto over =
        ParseMeminfo("MemTotal: 1000 kB\nMemAvailable: 1200 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n");
    ASSERT_TRUE(over);
    EXPECT_EQ(over->available, over->total);
}

TEST(MeminfoParser, RejectsMalformedText) {
    EXPECT_FALSE(ParseMeminfo(""));
    EXPECT_FALSE(ParseMeminfo("MemTotal: 1000 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n"))
        << "no MemAvailable (kernels before 3.14)";
    EXPECT_FALSE(
        ParseMeminfo("MemTotal: 1000 MB\nMemAvailable: 250 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n"))
        << "unknown unit";
    EXPECT_FALSE(
        ParseMeminfo("MemTotal: lots kB\nMemAvailable: 250 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n"));
    EXPECT_FALSE(
        ParseMeminfo("MemTotal: 18446744073709551615 kB\nMemAvailable: 250 kB\n"
                     "SwapTotal: 0 kB\nSwapFree: 0 kB\n"))
        << "bytes beyond 64 bits";
}

class ProcFilesTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, std::string_view text) {
        const auto path = scratch.path() / name;
        std::ofstream(path) << text;
        return path.string();
    }
    ScratchDir scratch;
};

TEST_F(ProcFilesTest, TheMeterGivesTheBusyShareOfTheAggregateLine) {
    const std::string path = Write("stat", "cpu 100 0 0 900 0 0 0 0 0 0\n");
    ProcStatCounters counters(path);
    cpuinfo meter(counters);
    meter.Initialize();
    // 1000 ticks later: 250 busy, 750 idle of which 150 waiting on I/O.
    Write("stat", "cpu 300 50 0 1500 150 0 0 0 0 0\n");
    EXPECT_EQ(meter.Query(), 25);
    // The file gone: -1, and the baseline stays where it was.
    std::filesystem::remove(path);
    EXPECT_EQ(meter.Query(), -1);
    Write("stat", "cpu 1300 50 0 1500 150 0 0 0 0 0\n");
    EXPECT_EQ(meter.Query(), 100);
    Write("stat", "garbage\n");
    EXPECT_EQ(meter.Query(), -1);
}

TEST_F(ProcFilesTest, MemorySamplesAndFailedReads) {
    ProcMeminfoSource memory(Write("meminfo", kMeminfo));
    const auto status = memory.Read();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->total - status->available, 4000000ull * 1024u);  // 40 % in use
    ProcMeminfoSource missing((scratch.path() / "absent").string());
    EXPECT_FALSE(missing.Read());
}

TEST(ProcFilesOfThisMachine, AreReadable) {
    ProcStatCounters counters;
    EXPECT_TRUE(counters.SystemTime());
    EXPECT_TRUE(counters.IdleTime());
    ProcMeminfoSource memory;
    const auto status = memory.Read();
    ASSERT_TRUE(status);
    EXPECT_GT(status->total, 0u);
    EXPECT_LE(status->available, status->total);
}

}  // namespace
}  // namespace quillomir::linux_host
