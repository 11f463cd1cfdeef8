// The commit limit and what is left of it, from the extended memory status,
// whose 64-bit fields stay true in a 32-bit process on a machine with more
// than 4 GB of commit.
#pragma once

#include <optional>

#include "measure/counter_source.h"

namespace quillomir::win32 {

class GlobalMemorySource : public MemorySource {
  public:
    std::optional<MemoryStatus> Read() override;
};

}  // namespace quillomir::win32
