// The operating system's load counters, as raw readings.
#pragma once

#include <cstdint>
#include <optional>

namespace quillomir {

// Each reading is one system query; an empty optional is a failed query.
class CounterSource {
  public:
    virtual ~CounterSource() = default;

    virtual std::optional<std::uint32_t> ProcessorCount() = 0;
    // Idle time of all processors together, in 100-ns units, as its raw 8 bytes.
    virtual std::optional<std::uint64_t> IdleTime() = 0;
    // The system time, in the same unit, as its raw 8 bytes.
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
