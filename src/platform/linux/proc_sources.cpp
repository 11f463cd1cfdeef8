#include "proc_sources.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace quillomir::linux_host {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// The next blank-separated word; the view is advanced past it.
std::string_view NextWord(std::string_view& text) {
    const auto begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(begin);
    const auto end = std::min(text.find_first_of(kBlanks), text.size());
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view word) {
    if (word.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::uint64_t> Add(std::uint64_t a, std::uint64_t b) {
    if (a > kMax - b) {
        return std::nullopt;
    }
    return a + b;
}

std::optional<std::uint64_t> Multiply(std::uint64_t a, std::uint64_t b) {
    if (b != 0 && a > kMax / b) {
        return std::nullopt;
    }
    return a * b;
}

}  // namespace

std::optional<CpuTicks> ParseProcStat(std::string_view text) {
    std::string_view line = text.substr(0, text.find('\n'));
    if (NextWord(line) != "cpu") {
        return std::nullopt;
    }
    // user nice system idle iowait irq softirq steal guest guest_nice; kernels
    // before 2.6 stop after idle, later ones add fields at the end.
    constexpr int kIdle = 3, kIowait = 4, kSummed = 8, kKnown = 10;
    CpuTicks ticks;
    int count = 0;
    for (std::string_view word = NextWord(line); !word.empty(); word = NextWord(line)) {
        const auto value = ParseUnsigned(word);
        if (!value) {
            return std::nullopt;
        }
        if (count < kSummed) {
            const auto total = Add(ticks.total, *value);
            if (!total) {
                return std::nullopt;
            }
            ticks.total = *total;
        }
        if (count == kIdle || count == kIowait) {
            ticks.idle += *value;  // no overflow: both are already inside total
        }
        if (++count == kKnown) {
            break;
        }
    }
    if (count <= kIdle) {
        return std::nullopt;
    }
    return ticks;
}

std::optional<MemoryStatus> ParseMeminfo(std::string_view text) {
    std::optional<std::uint64_t> memTotal, memAvailable, swapTotal, swapFree;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);

        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, colon);
        std::optional<std::uint64_t>* field = name == "MemTotal"       ? &memTotal
                                              : name == "MemAvailable" ? &memAvailable
                                              : name == "SwapTotal"    ? &swapTotal
                                              : name == "SwapFree"     ? &swapFree
                                                                       : nullptr;
        if (field == nullptr || field->has_value()) {
            continue;
        }
        std::string_view rest = line.substr(colon + 1);
        const auto number = ParseUnsigned(NextWord(rest));
        if (!number || NextWord(rest) != "kB" || !NextWord(rest).empty()) {
            return std::nullopt;
        }
        *field = Multiply(*number, 1024);
        if (!*field) {
            return std::nullopt;
        }
    }
    if (!memTotal || !memAvailable || !swapTotal || !swapFree) {
        return std::nullopt;
    }
    const auto total = Add(*memTotal, *swapTotal);
    const auto available = Add(*memAvailable, *swapFree);
    if (!total || !available) {
        return std::nullopt;
    }
    // MemAvailable is an estimate and can pass MemTotal for a moment; the share
    // in use is then 0, never negative.
    return MemoryStatus{*total, std::min(*available, *total)};
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(limit, '\0');
    std::size_t used = 0;
    while (used < limit) {
        const ssize_t got = ::read(fd, text.data() + used, limit - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(used);
    return text;
}

ProcStatCounters::ProcStatCounters(std::string path) : path_(std::move(path)) {
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    unitsPerTick_ =
        ticksPerSecond > 0 ? 10'000'000 / static_cast<std::uint64_t>(ticksPerSecond) : 100'000;
}

std::optional<CpuTicks> ProcStatCounters::Take() {
    // The aggregate line comes first and is short; the rest of the file (one
    // line per processor, interrupts) is not needed.
    const auto text = ReadSmallFile(path_, 1024);
    if (!text) {
        return std::nullopt;
    }
    const auto ticks = ParseProcStat(*text);
    if (!ticks || !Multiply(ticks->total, unitsPerTick_)) {
        return std::nullopt;
    }
    return ticks;
}

std::optional<std::uint64_t> ProcStatCounters::SystemTime() {
    pending_ = Take();
    if (!pending_) {
        return std::nullopt;
    }
    return pending_->total * unitsPerTick_;
}

std::optional<std::uint64_t> ProcStatCounters::IdleTime() {
    // The meter asks for the system time first; a lone idle query reads afresh.
    const std::optional<CpuTicks> ticks = pending_ ? pending_ : Take();
    pending_.reset();
    if (!ticks) {
        return std::nullopt;
    }
    return ticks->idle * unitsPerTick_;
}

std::optional<MemoryStatus> ProcMeminfoSource::Read() {
    const auto text = ReadSmallFile(path_, 16 * 1024);
    if (!text) {
        return std::nullopt;
    }
    return ParseMeminfo(*text);
}

}  // namespace quillomir::linux_host
