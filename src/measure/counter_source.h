// The operating system's load counters, as raw readings.
#pragma once

#include <cstdint>
#include <optional>

namespace quillomir {

// Each reading is one system query; an empty optional is a failed query.
// The three must describe the same processors: over any interval the idle
// time's change is at most ProcessorCount times the system time's change.
// A count of processors taken from one view of the machine and an idle total
// from another (a 32-bit view of a larger machine, one processor group of
// several) would put the idle share above 100.
class CounterSource {
  public:
    virtual ~CounterSource() = default;

    // How many processors' time one unit of SystemTime stands for: the number
    // of processors when SystemTime is a clock, 1 when it already sums the
    // time of every processor that IdleTime covers.
    virtual std::optional<std::uint32_t> ProcessorCount() = 0;
    // Idle time of the processors together, in 100-ns units, as its raw 8 bytes.
    virtual std::optional<std::uint64_t> IdleTime() = 0;
    // The elapsed time, in the same unit, as its raw 8 bytes.
    virtual std::optional<std::uint64_t> SystemTime() = 0;
};

// The commit limit and the part of it still available, in one unit (bytes).
struct MemoryStatus {
    std::uint64_t total = 0;
    std::uint64_t available = 0;
};

class MemorySource {
  public:
    virtual ~MemorySource() = default;

    virtual std::optional<MemoryStatus> Read() = 0;
};

}  // namespace quillomir
