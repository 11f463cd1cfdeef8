// The naive reference: the saver's two timers and the same 103 ellipses a tick
// (101 black, 2 coloured, as at length 5), but drawn into a full-screen backing
// bitmap that is blitted whole to the window on every tick. Its cost grows with
// the screen's area; the saver's must not.
#include <windows.h>

#include "reference_window.h"

#include <array>

namespace {

constexpr UINT_PTR kMoveTimer = 1;
constexpr UINT_PTR kSampleTimer = 2;
constexpr int kSegments = 106;  // entries 0..105, as the saver erases them
constexpr int kLength = 5;
constexpr int kRadius = 8;  // 120 twips at 96 DPI
constexpr int kStep = 7;    // 105 twips

struct Scene {
    int width = 0;
    int height = 0;
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    HBRUSH black = nullptr;
    HBRUSH blue = nullptr;
    HPEN blackPen = nullptr;
    HPEN bluePen = nullptr;
    std::array<POINT, kSegments> chain{};
    int dx = kStep;
    int dy = kStep;
    FILETIME idle{}, kernel{}, user{};
};

Scene scene;

void Disc(POINT p, HBRUSH brush, HPEN pen) {
    SelectObject(scene.memory, brush);
    SelectObject(scene.memory, pen);
    Ellipse(scene.memory, p.x - kRadius, p.y - kRadius, p.x + kRadius + 1, p.y + kRadius + 1);
}

void Step(HWND window) {
    for (int i = kSegments - 1; i >= kLength; --i) {
        Disc(scene.chain[i], scene.black, scene.blackPen);
    }
    Disc(scene.chain[kLength - 1], scene.blue, scene.bluePen);
    for (int i = kLength; i >= 1; --i) {
        scene.chain[i] = scene.chain[i - 1];
    }
    POINT& head = scene.chain[0];
    head.x += scene.dx;
    head.y += scene.dy;
    if (head.x >= scene.width || head.x <= 0) {
        scene.dx = -scene.dx;
    } else if (head.y >= scene.height || head.y <= 0) {
        scene.dy = -scene.dy;
    }
    Disc(head, scene.blue, scene.bluePen);

    HDC dc = GetDC(window);
    BitBlt(dc, 0, 0, scene.width, scene.height, scene.memory, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
}

void Create(HWND window) {
    HDC dc = GetDC(window);
    scene.memory = CreateCompatibleDC(dc);
    scene.bitmap = CreateCompatibleBitmap(dc, scene.width, scene.height);
    ReleaseDC(window, dc);
    scene.oldBitmap = SelectObject(scene.memory, scene.bitmap);
    RECT all{0, 0, scene.width, scene.height};
    FillRect(scene.memory, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    scene.black = CreateSolidBrush(RGB(0, 0, 0));
    scene.blue = CreateSolidBrush(RGB(0, 0, 255));
    scene.blackPen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    scene.bluePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
    scene.chain[0] = {scene.width / 2, scene.height / 2};
    GetSystemTimes(&scene.idle, &scene.kernel, &scene.user);
    SetTimer(window, kMoveTimer, 1000, nullptr);
    SetTimer(window, kSampleTimer, 10000, nullptr);
}

void Destroy(HWND window) {
    KillTimer(window, kMoveTimer);
    KillTimer(window, kSampleTimer);
    SelectObject(scene.memory, scene.oldBitmap);
    DeleteObject(scene.bitmap);
    DeleteDC(scene.memory);
    DeleteObject(scene.black);
    DeleteObject(scene.blue);
    DeleteObject(scene.blackPen);
    DeleteObject(scene.bluePen);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            Create(window);
            return 0;
        case WM_TIMER:
            if (wParam == kMoveTimer) {
                Step(window);
            } else if (wParam == kSampleTimer) {
                // The sampler's work: one reading of the system's CPU counters.
                GetSystemTimes(&scene.idle, &scene.kernel, &scene.user);
            }
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            BitBlt(dc, 0, 0, scene.width, scene.height, scene.memory, 0, 0, SRCCOPY);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            Destroy(window);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    scene.width = GetSystemMetrics(SM_CXSCREEN);
    scene.height = GetSystemMetrics(SM_CYSCREEN);
    // The bitmap covers every pixel: no background brush.
    return RunFullScreenWindow(instance, L"QuillomirBenchNaive", L"bench naive", Procedure,
                               nullptr);
}
