// The load counters of Linux, from /proc/stat and /proc/meminfo, as the core's
// counter and memory sources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "measure/counter_source.h"

namespace quillomir::linux_host {

// The aggregate "cpu" line of /proc/stat, in clock ticks.
struct CpuTicks {
    std::uint64_t idle = 0;   // idle + iowait
    std::uint64_t total = 0;  // user .. steal; guest time is already inside user and nice
};

// The first line of the text when it is a well-formed aggregate "cpu" line.
std::optional<CpuTicks> ParseProcStat(std::string_view text);

// RAM and swap together, in bytes: what can hold committed pages, and the part
// of it still available (MemAvailable + SwapFree). Needs all four fields.
std::optional<MemoryStatus> ParseMeminfo(std::string_view text);

// Reads one /proc/stat snapshot per SystemTime and answers IdleTime from that
// same snapshot, so that both counters describe the same moment. The processor
// count is 1: the aggregate line's idle and total already sum every processor.
class ProcStatCounters : public CounterSource {
  public:
    explicit ProcStatCounters(std::string path = "/proc/stat");

    std::optional<std::uint32_t> ProcessorCount() override { return 1; }
    std::optional<std::uint64_t> SystemTime() override;
    std::optional<std::uint64_t> IdleTime() override;

  private:
    std::optional<CpuTicks> Take();

    std::string path_;
    std::uint64_t unitsPerTick_;  // 100-ns units per clock tick
    std::optional<CpuTicks> pending_;
};

class ProcMeminfoSource : public MemorySource {
  public:
    explicit ProcMeminfoSource(std::string path = "/proc/meminfo") : path_(std::move(path)) {}

    std::optional<MemoryStatus> Read() override;

  private:
    std::string path_;
};

// At most `limit` bytes of the file, or empty when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit);

}  // namespace quillomir::linux_host
