// The same-job floor under Windows: the floor window, plus what the saver's
// job needs at the least: a timer once a second that draws two disc-sized
// areas (the old disc put out in black, a new one drawn), and one every ten
// seconds that reads the system's CPU times and memory status.
#include <windows.h>

#include "reference_window.h"

namespace {

constexpr UINT_PTR kDrawTimer = 1;
constexpr UINT_PTR kSampleTimer = 2;
constexpr int kDisc = 16;  // the crawlet's disc at 96 dpi

unsigned wakes = 0;

POINT PlaceOf(unsigned n) {
    const int spanX = GetSystemMetrics(SM_CXSCREEN) - kDisc;
    const int spanY = GetSystemMetrics(SM_CYSCREEN) - kDisc;
    return {static_cast<LONG>((n * 37u) % static_cast<unsigned>(spanX > 0 ? spanX : 1)),
            static_cast<LONG>((n * 23u) % static_cast<unsigned>(spanY > 0 ? spanY : 1))};
}

void DrawDisc(HDC dc, POINT at, HBRUSH brush) {
    const HGDIOBJ old = SelectObject(dc, brush);
    Ellipse(dc, at.x, at.y, at.x + kDisc, at.y + kDisc);
    SelectObject(dc, old);
}

void Sample() {
    FILETIME idle, kernel, user;
    GetSystemTimes(&idle, &kernel, &user);
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static HBRUSH colour = nullptr;
    switch (message) {
        case WM_CREATE:
            colour = CreateSolidBrush(RGB(0, 192, 255));
            SetTimer(window, kDrawTimer, 1000, nullptr);
            SetTimer(window, kSampleTimer, 10000, nullptr);
            return 0;
        case WM_TIMER:
            if (wParam == kSampleTimer) {
                Sample();
            } else if (HDC dc = GetDC(window)) {
                ++wakes;
                DrawDisc(dc, PlaceOf(wakes - 1), static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
                DrawDisc(dc, PlaceOf(wakes), colour);
                ReleaseDC(window, dc);
            }
            return 0;
        case WM_DESTROY:
            KillTimer(window, kDrawTimer);
            KillTimer(window, kSampleTimer);
            DeleteObject(colour);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunFullScreenWindow(instance, L"QuillomirBenchJobFloor", L"bench job floor", Procedure,
                               static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}
