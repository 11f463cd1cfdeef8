#include "shell_open.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace quillomir::win32 {

void ShellExecuteOpener::Open(std::string_view address) {
    // The call needs a terminated string; an address with a NUL in it would be
    // cut short, so it is not handed on at all.
    if (address.empty() || address.find('\0') != std::string_view::npos) {
        return;
    }
    const std::string file(address);
    // A failure to open the address is not the saver's to report.
    ShellExecuteA(nullptr, nullptr, file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace quillomir::win32
