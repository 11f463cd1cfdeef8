#include "control_fonts.h"

#include <cmath>
#include <cwchar>
#include <string>
#include <utility>

#include "dpi.h"
#include "text.h"
#include "user32_function.h"

namespace quillomir::win32 {

namespace {

using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

LOGFONTW MessageFont(UINT dpi) {
    static const SystemParametersInfoForDpiFn forDpi =
        User32Function<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, dpi)) {
        return metrics.lfMessageFont;
    }
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        // The metrics are for the system's DPI; scale them to the one asked for.
        metrics.lfMessageFont.lfHeight = MulDiv(
            metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
        return metrics.lfMessageFont;
    }
    LOGFONTW fallback{};
    fallback.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
    fallback.lfWeight = FW_NORMAL;
    fallback.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(fallback.lfFaceName, L"Segoe UI");
    return fallback;
}

int CALLBACK NoteFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FaceInstalled(const std::wstring& face) {
    if (face.empty() || face.size() >= LF_FACESIZE) {
        return false;
    }
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(query.lfFaceName, face.c_str());
    bool found = false;
    ScopedGetDC screen(nullptr);
    if (screen.get()) {
        EnumFontFamiliesExW(screen.get(), &query, NoteFamily, reinterpret_cast<LPARAM>(&found), 0);
    }
    return found;
}

}  // namespace

ScopedFont CreateDialogFont(UINT dpi) {
    const LOGFONTW font = MessageFont(dpi);
    return ScopedFont(CreateFontIndirectW(&font));
}

bool DpiDialogFont::Apply(HWND control, UINT dpi) {
    ScopedFont font = CreateDialogFont(dpi);
    if (!font) {
        return false;
    }
    if (control) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    font_ = std::move(font);
    return true;
}

ScopedFont CreateControlFont(const ControlFont& wanted, UINT dpi) {
    LOGFONTW font = MessageFont(dpi);
    std::wstring face = Widen(wanted.face);
    if (!FaceInstalled(face)) {
        face = FaceInstalled(L"Microsoft Sans Serif") ? L"Microsoft Sans Serif" : font.lfFaceName;
    }
    wcsncpy_s(font.lfFaceName, face.c_str(), _TRUNCATE);
    font.lfHeight = -static_cast<LONG>(std::lround(wanted.points * dpi / 72.0));
    font.lfWidth = 0;
    font.lfWeight = FW_NORMAL;
    font.lfItalic = FALSE;
    font.lfUnderline = wanted.underline ? TRUE : FALSE;
    return ScopedFont(CreateFontIndirectW(&font));
}

}  // namespace quillomir::win32
