#include "dpi.h"

#include <cmath>

namespace quillomir::win32 {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

// Resolved at run time: older Windows versions have no per-window DPI.
GetDpiForWindowFn ResolveGetDpiForWindow() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) {
        return nullptr;
    }
    return reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
}

}  // namespace

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT WindowDpi(HWND window) {
    static const GetDpiForWindowFn getDpiForWindow = ResolveGetDpiForWindow();
    if (getDpiForWindow && window) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi > 0) {
            return dpi;
        }
    }
    return SystemDpi();
}

int TwipsToPixels(int twips, UINT dpi) {
    return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / kTwipsPerInch));
}

float PixelsToTwips(float pixels, UINT dpi) {
    return pixels * static_cast<float>(kTwipsPerInch) / static_cast<float>(dpi);
}

}  // namespace quillomir::win32
