#include "nt_counters.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>

namespace quillomir::win32 {

namespace {

constexpr unsigned long kBasicInformation = 0;
constexpr unsigned long kPerformanceInformation = 2;
constexpr unsigned long kTimeOfDayInformation = 3;

// The kernel insists on the exact record size for the basic information, and
// that size differs between the 32-bit and 64-bit layouts.
#if defined(_WIN64)
static_assert(sizeof(SYSTEM_BASIC_INFORMATION) == 64);
static_assert(offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors) == 56);
#else
static_assert(sizeof(SYSTEM_BASIC_INFORMATION) == 44);
static_assert(offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors) == 40);
#endif
static_assert(sizeof(SYSTEM_TIMEOFDAY_INFORMATION) == 48);
static_assert(offsetof(SYSTEM_TIMEOFDAY_INFORMATION, CurrentTime) == 8);

constexpr unsigned long kPerformanceSize = 312;
constexpr std::size_t kIdleTimeOffset = 0;
constexpr std::size_t kCurrentTimeOffset = 8;

// Statuses meaning "this system has no such query", as opposed to a query
// that exists and failed.
constexpr long kStatusNotImplemented = static_cast<long>(0xC0000002L);
constexpr long kStatusInvalidInfoClass = static_cast<long>(0xC0000003L);
constexpr long kStatusNotSupported = static_cast<long>(0xC00000BBL);

std::uint64_t ReadRaw8(const void* bytes) {
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
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

NtCounterSource::Outcome NtCounterSource::Query(unsigned long infoClass, void* buffer,
                                                unsigned long size) const {
    if (!query_) {
        return Outcome::kUnsupported;
    }
    std::memset(buffer, 0, size);
    const long status = query_(infoClass, buffer, size, nullptr);
    if (status == 0) {
        return Outcome::kOk;
    }
    if (status == kStatusNotImplemented || status == kStatusInvalidInfoClass ||
        status == kStatusNotSupported) {
        return Outcome::kUnsupported;
    }
    return Outcome::kFailed;
}

std::optional<std::uint32_t> NtCounterSource::ProcessorCount() {
    SYSTEM_BASIC_INFORMATION basic;
    switch (Query(kBasicInformation, &basic, sizeof basic)) {
        case Outcome::kOk:
            // The field is a signed char in the header; the count is unsigned.
            return static_cast<unsigned char>(basic.NumberOfProcessors);
        case Outcome::kFailed:
            return std::nullopt;
        case Outcome::kUnsupported:
            break;
    }
    usedKernel32_ = true;
    const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (count == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(count);
}

std::optional<std::uint64_t> NtCounterSource::IdleTime() {
    unsigned char performance[kPerformanceSize];
    switch (Query(kPerformanceInformation, performance, sizeof performance)) {
        case Outcome::kOk:
            return ReadRaw8(performance + kIdleTimeOffset);
        case Outcome::kFailed:
            return std::nullopt;
        case Outcome::kUnsupported:
            break;
    }
    usedKernel32_ = true;
    // GetSystemTimes sums the idle time of all processors, as the query does.
    FILETIME idle{}, kernel{}, user{};
    if (!GetSystemTimes(&idle, &kernel, &user)) {
        return std::nullopt;
    }
    return FromFileTime(idle);
}

std::optional<std::uint64_t> NtCounterSource::SystemTime() {
    SYSTEM_TIMEOFDAY_INFORMATION timeOfDay;
    switch (Query(kTimeOfDayInformation, &timeOfDay, sizeof timeOfDay)) {
        case Outcome::kOk:
            return ReadRaw8(reinterpret_cast<const unsigned char*>(&timeOfDay) +
                            kCurrentTimeOffset);
        case Outcome::kFailed:
            return std::nullopt;
        case Outcome::kUnsupported:
            break;
    }
    usedKernel32_ = true;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FromFileTime(now);
}

}  // namespace quillomir::win32
