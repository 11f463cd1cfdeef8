// The floor reference: a black, full-screen, top-most window that does nothing.
// What Wine costs for a window that merely exists; the saver cannot go below it.
#include <windows.h>

#include "reference_window.h"

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunFullScreenWindow(instance, L"QuillomirBenchFloor", L"bench floor", Procedure,
                               static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}
