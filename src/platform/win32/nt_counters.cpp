#include "nt_counters.h"

#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <vector>

namespace quillomir::win32 {

namespace {

// One record for each processor (with several processor groups, for those of
// the caller's group; a 32-bit process may be shown fewer). Whatever set the
// kernel reports, idle, kernel and user time are summed over that same set, so
// the two totals always describe the same processors.
constexpr unsigned long kProcessorPerformanceInformation = 8;
static_assert(sizeof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION) == 48);

// A group holds at most 64 processors, so the first buffer nearly always fits;
// it grows if the kernel asks for more, up to a bound no machine reaches.
constexpr std::size_t kFirstRecords = 64;
constexpr std::size_t kMostRecords = 4096;

constexpr long kStatusInfoLengthMismatch = static_cast<long>(0xC0000004L);
// Statuses meaning "this system has no such query", as opposed to a query
// that exists and failed.
constexpr long kStatusNotImplemented = static_cast<long>(0xC0000002L);
constexpr long kStatusInvalidInfoClass = static_cast<long>(0xC0000003L);
constexpr long kStatusNotSupported = static_cast<long>(0xC00000BBL);

std::uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::uint64_t FromLarge(const LARGE_INTEGER& value) {
    std::uint64_t raw = 0;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

NtCounterSource::QueryFunction ResolveQuery() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) {
        return nullptr;
    }
    const FARPROC address = GetProcAddress(ntdll, "NtQuerySystemInformation");
    return reinterpret_cast<NtCounterSource::QueryFunction>(reinterpret_cast<void*>(address));
}

}  // namespace

NtCounterSource::NtCounterSource(Path path) {
    if (path == Path::kSystemInformation) {
        query_ = ResolveQuery();
    }
}

NtCounterSource::Outcome NtCounterSource::ReadPerProcessor(Totals& totals) {
    std::vector<SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION> records(kFirstRecords);
    for (;;) {
        const auto bytes = static_cast<unsigned long>(records.size() * sizeof records[0]);
        std::memset(records.data(), 0, bytes);
        unsigned long returned = 0;
        const long status =
            query_(kProcessorPerformanceInformation, records.data(), bytes, &returned);
        if (status == kStatusInfoLengthMismatch && records.size() < kMostRecords) {
            records.resize(records.size() * 2);
            continue;
        }
        if (status == kStatusNotImplemented || status == kStatusInvalidInfoClass ||
            status == kStatusNotSupported) {
            return Outcome::kUnsupported;
        }
        const std::size_t count = returned / sizeof records[0];
        if (status != 0 || count == 0 || count > records.size()) {
            return Outcome::kFailed;
        }
        totals = {};
        for (std::size_t i = 0; i < count; ++i) {
            totals.idle += FromLarge(records[i].IdleTime);
            totals.all += FromLarge(records[i].KernelTime) + FromLarge(records[i].UserTime);
        }
        processorsSummed_ = static_cast<std::uint32_t>(count);
        return Outcome::kOk;
    }
}

std::optional<NtCounterSource::Totals> NtCounterSource::ReadTotals() {
    if (query_) {
        Totals totals;
        switch (ReadPerProcessor(totals)) {
            case Outcome::kOk:
                return totals;
            case Outcome::kFailed:
                return std::nullopt;
            case Outcome::kUnsupported:
                break;
        }
    }
    usedKernel32_ = true;
    // The same sums, made by kernel32 over the caller's processor group.
    FILETIME idle{}, kernel{}, user{};
    if (!GetSystemTimes(&idle, &kernel, &user)) {
        return std::nullopt;
    }
    return Totals{FromFileTime(idle), FromFileTime(kernel) + FromFileTime(user)};
}

std::optional<std::uint32_t> NtCounterSource::ProcessorCount() {
    return 1;
}

std::optional<std::uint64_t> NtCounterSource::SystemTime() {
    pendingIdle_.reset();
    const std::optional<Totals> totals = ReadTotals();
    if (!totals) {
        return std::nullopt;
    }
    pendingIdle_ = totals->idle;
    return totals->all;
}

std::optional<std::uint64_t> NtCounterSource::IdleTime() {
    if (pendingIdle_) {
        const std::uint64_t idle = *pendingIdle_;
        pendingIdle_.reset();
        return idle;
    }
    const std::optional<Totals> totals = ReadTotals();
    if (!totals) {
        return std::nullopt;
    }
    return totals->idle;
}

}  // namespace quillomir::win32
