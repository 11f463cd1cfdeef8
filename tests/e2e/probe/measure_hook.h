// Shared between the probe and its hook DLL: the measurement that the hook takes
// inside the process that owns a control, where the control's font is valid.
#pragma once

#include <windows.h>

inline constexpr wchar_t kMeasureMessageName[] = L"QuillomirProbeMeasure";
inline constexpr wchar_t kMeasureMappingName[] = L"Local\\QuillomirProbeMeasure";
inline constexpr wchar_t kMeasureEventName[] = L"Local\\QuillomirProbeMeasured";

struct MeasureResult {
    HWND control;
    BOOL hasFont;
    LOGFONTW font;
    wchar_t actualFace[LF_FACESIZE];
    LONG lineHeight;
    SIZE extent;   // the caption on one line
    SIZE wrapped;  // the caption word-wrapped at the client width
    RECT client;
    COLORREF textColor;  // what the parent's WM_CTLCOLORSTATIC chose, for statics
};
