#include "cover_window.h"

#include <windowsx.h>

#include "window_object.h"

namespace quillomir::win32 {

namespace {

constexpr wchar_t kCoverClass[] = L"QuillomirCover";

}  // namespace

CoverWindow::~CoverWindow() {
    if (window_) {
        DestroyWindow(window_);
    }
}

bool CoverWindow::Create(const RECT& monitor) {
    RegisterWindowClass(instance_, kCoverClass, &CoverWindow::Procedure,
                        static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kCoverClass, L"", WS_POPUP, monitor.left,
                    monitor.top, monitor.right - monitor.left, monitor.bottom - monitor.top,
                    nullptr, nullptr, instance_, this);
    if (!window_) {
        return false;
    }
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    return true;
}

LRESULT CALLBACK CoverWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowObject(window, message, lParam, &CoverWindow::window_);
    if (!self || message == WM_NCDESTROY) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT CoverWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    const auto screenPoint = [&] {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(window_, &p);
        return p;
    };
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            input_.CoverKeyDown();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_XBUTTONDOWN:
            input_.CoverMouseDown(screenPoint());
            return 0;
        case WM_MOUSEMOVE:
            input_.CoverMouseMove(screenPoint());
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_SCREENSAVE) {
                return 0;
            }
            break;
        case WM_CLOSE:
            return 0;  // they close with the saver's own window
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace quillomir::win32
