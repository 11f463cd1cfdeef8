#include "dpi.h"

#include <cmath>

#include "scoped_win.h"
#include "user32_function.h"

namespace quillomir::win32 {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

}  // namespace

UINT SystemDpi() {
    const ScopedGetDC screen(nullptr);
    const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT WindowDpi(HWND window) {
    static const GetDpiForWindowFn getDpiForWindow =
        User32Function<GetDpiForWindowFn>("GetDpiForWindow");
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
