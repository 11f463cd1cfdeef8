// The CPU meter's three readings as totals over one set of processors: the idle
// time and the kernel-plus-user time summed over the same processors, so that
// their ratio is the idle share whatever the processor count, the processor
// groups or the WOW64 view. The kernel's per-processor times are read, with the
// documented kernel32 call standing in where that query is missing.
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

    // The query's signature; `void*` keeps <windows.h> out of this header.
    using QueryFunction = long(__stdcall*)(unsigned long infoClass, void* buffer,
                                           unsigned long size, unsigned long* returnLength);

    explicit NtCounterSource(Path path = Path::kSystemInformation);
    // Reads through the given query instead of ntdll's, as a test does.
    explicit NtCounterSource(QueryFunction query) : query_(query) {}

    // Always 1: the time total below already sums every processor counted in
    // the idle total, so there is nothing left to divide by.
    std::optional<std::uint32_t> ProcessorCount() override;
    // Idle time summed over the processors, in 100-ns units. Answers from the
    // reading that SystemTime has just taken, so that both describe one moment.
    std::optional<std::uint64_t> IdleTime() override;
    // Kernel plus user time summed over the same processors, in 100-ns units.
    // Kernel time includes idle time, so this is all the time those processors had.
    std::optional<std::uint64_t> SystemTime() override;

    // Whether the ntdll query was found (always false on the kernel32-only path).
    bool HasSystemInformation() const { return query_ != nullptr; }
    // Whether any reading so far came from kernel32 instead of the ntdll query.
    bool UsedKernel32() const { return usedKernel32_; }
    // How many processors the last reading through the ntdll query summed.
    std::uint32_t ProcessorsSummed() const { return processorsSummed_; }

  private:
    struct Totals {
        std::uint64_t idle = 0;
        std::uint64_t all = 0;  // kernel (idle included) plus user
    };

    std::optional<Totals> ReadTotals();
    enum class Outcome { kOk, kUnsupported, kFailed };
    Outcome ReadPerProcessor(Totals& totals);

    QueryFunction query_ = nullptr;
    bool usedKernel32_ = false;
    std::uint32_t processorsSummed_ = 0;
    std::optional<std::uint64_t> pendingIdle_;
};

}  // namespace quillomir::win32
