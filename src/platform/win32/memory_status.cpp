#include "memory_status.h"

#include <windows.h>

namespace quillomir::win32 {

std::optional<MemoryStatus> GlobalMemorySource::Read() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return std::nullopt;
    }
    return MemoryStatus{status.ullTotalPageFile, status.ullAvailPageFile};
}

}  // namespace quillomir::win32
