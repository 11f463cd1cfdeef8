// user32 functions that newer Windows versions add, found at run time so that
// the saver still starts where they are missing.
#pragma once

#include <windows.h>

namespace quillomir::win32 {

// The function, or nullptr where this Windows has none by that name.
template <typename Function>
Function User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

}  // namespace quillomir::win32
