// Twips, the unit of every layout and drawing, against the display's pixels.
#pragma once

#include <windows.h>

namespace quillomir::win32 {

inline constexpr int kTwipsPerInch = 1440;

// The DPI of the monitor the window is on (per-monitor aware), or of the
// system where the per-window query is unavailable.
UINT WindowDpi(HWND window);
UINT SystemDpi();

// Rounded to the nearest pixel.
int TwipsToPixels(int twips, UINT dpi);
float PixelsToTwips(float pixels, UINT dpi);

}  // namespace quillomir::win32
