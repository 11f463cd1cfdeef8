// The processor count and the idle and system time counters, read from the
// kernel's system information, with documented kernel32 calls standing in
// where that query is missing.
#pragma once

#include <cstdint>
#include <optional>

#include "measure/counter_source.h"

namespace quillomir::win32 {

class NtCounterSource : public CounterSource {
  public:
    enum class Path {
        kSystemInformation,  // the ntdll query, with kernel32 where it is unsupported
        kKernel32Only,       // never the ntdll query
    };

    explicit NtCounterSource(Path path = Path::kSystemInformation);

    std::optional<std::uint32_t> ProcessorCount() override;
    std::optional<std::uint64_t> IdleTime() override;
    std::optional<std::uint64_t> SystemTime() override;

    // Whether the ntdll query was found (always false on the kernel32-only path).
    bool HasSystemInformation() const { return query_ != nullptr; }
    // Whether any reading so far came from kernel32 instead of the ntdll query.
    bool UsedKernel32() const { return usedKernel32_; }

    // The query's signature; `void*` keeps <windows.h> out of this header.
    using QueryFunction = long(__stdcall*)(unsigned long infoClass, void* buffer,
                                           unsigned long size, unsigned long* returnLength);

  private:
    enum class Outcome { kOk, kUnsupported, kFailed };

    Outcome Query(unsigned long infoClass, void* buffer, unsigned long size) const;

    QueryFunction query_ = nullptr;
    bool usedKernel32_ = false;
};

}  // namespace quillomir::win32
