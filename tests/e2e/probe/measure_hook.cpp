// Loaded into the saver by a WH_GETMESSAGE hook: measures a control's caption in
// the control's own font when the probe posts the measuring message to it.
#include <windows.h>

#include "measure_hook.h"

namespace {

void Measure(HWND control, MeasureResult& out) {
    out = {};
    out.control = control;
    GetClientRect(control, &out.client);
    wchar_t caption[512] = {};
    const int length = GetWindowTextW(control, caption, 512);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HDC dc = GetDC(control);
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    out.hasFont = font && GetObjectW(font, sizeof out.font, &out.font) != 0;
    GetTextExtentPoint32W(dc, caption, length, &out.extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    out.lineHeight = metrics.tmHeight;
    GetTextFaceW(dc, LF_FACESIZE, out.actualFace);
    RECT wrap{0, 0, out.client.right, 0};
    DrawTextW(dc, caption, length, &wrap, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    out.wrapped = {wrap.right - wrap.left, wrap.bottom - wrap.top};
    // The colour the parent picks for the control's text.
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    if (lstrcmpiW(className, L"Static") == 0) {
        SendMessageW(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(control));
        out.textColor = GetTextColor(dc);
    }
    if (old) {
        SelectObject(dc, old);
    }
    ReleaseDC(control, dc);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    ProbeGetMessage(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT measureMessage = RegisterWindowMessageW(kMeasureMessageName);
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == measureMessage) {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kMeasureMappingName);
        HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, kMeasureEventName);
        if (mapping && done) {
            if (void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(MeasureResult))) {
                Measure(message->hwnd, *static_cast<MeasureResult*>(view));
                UnmapViewOfFile(view);
                SetEvent(done);
            }
        }
        if (mapping) {
            CloseHandle(mapping);
        }
        if (done) {
            CloseHandle(done);
        }
        message->message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
