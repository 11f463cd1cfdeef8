// Each window class keeps its C++ object in the window's user data.
#pragma once

#include <windows.h>

namespace quillomir::win32 {

// The object behind a window. It is stored at WM_NCCREATE, and its handle
// member set there, because messages arrive before CreateWindowExW returns; at
// WM_NCDESTROY both are let go, so no later message reaches the object.
template <typename T>
T* WindowObject(HWND window, UINT message, LPARAM lParam, HWND T::*handle) {
    if (message == WM_NCCREATE) {
        auto* created = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->*handle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->*handle = nullptr;
    }
    return self;
}

}  // namespace quillomir::win32
