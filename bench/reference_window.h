// What both reference programs share: a borderless, top-most popup over the
// primary screen, shown, and a message loop until it is destroyed.
#pragma once

#include <windows.h>

// Returns the program's exit code: 1 when the window could not be made.
inline int RunFullScreenWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title,
                               WNDPROC procedure, HBRUSH background) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = procedure;
    cls.hInstance = instance;
    cls.hbrBackground = background;
    cls.lpszClassName = className;
    if (!RegisterClassExW(&cls)) {
        return 1;
    }
    HWND window = CreateWindowExW(WS_EX_TOPMOST, className, title, WS_POPUP, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                  nullptr, nullptr, instance, nullptr);
    if (!window) {
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
