#include "saver_window.h"

#include <windowsx.h>

#include <cmath>

#include "dpi.h"
#include "startup/startup.h"
#include "text.h"
#include "window_object.h"

namespace quillomir::win32 {

namespace {

constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT_PTR kTimer2Id = 2;

UINT_PTR TimerId(SaverTimer timer) {
    return timer == SaverTimer::Timer1 ? kTimer1Id : kTimer2Id;
}

RECT PrimaryScreen() {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace

SaverWindow::SaverWindow(App& app)
    : app_(app), form_(*this, surface_, settings_, counters_, memory_) {}

SaverWindow::~SaverWindow() {
    if (window_) {
        DestroyWindow(window_);
    }
}

bool SaverWindow::Show() {
    // A class DC lets the surface keep one DC for the window's life.
    if (!RegisterWindowClass(app_.instance(), kSaverClass, &SaverWindow::Procedure,
                             static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), CS_OWNDC)) {
        return false;
    }
    const RECT screen = PrimaryScreen();
    const std::wstring caption = Widen(kSaverCaption);
    CreateWindowExW(0, kSaverClass, caption.c_str(), WS_POPUP | WS_CLIPCHILDREN, screen.left,
                    screen.top, screen.right - screen.left, screen.bottom - screen.top, nullptr,
                    nullptr, app_.instance(), this);
    if (!window_) {
        return false;
    }
    POINT pointer{};
    if (GetCursorPos(&pointer)) {
        const POINT twips = ScreenToTwips(pointer);
        form_.NotePointer(twips.x, twips.y);
    }
    form_.Load();
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    SetForegroundWindow(window_);
    return true;
}

LRESULT CALLBACK SaverWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowObject(window, message, lParam, &SaverWindow::window_);
    if (!self || message == WM_NCDESTROY) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT SaverWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    const auto twips = [&] { return ToTwips({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); };
    switch (message) {
        case WM_CREATE:
            OnCreate();
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            form_.KeyDown();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_XBUTTONDOWN: {
            const POINT p = twips();
            form_.MouseDown(p.x, p.y);
            return 0;
        }
        case WM_MOUSEMOVE: {
            const POINT p = twips();
            form_.MouseMove(p.x, p.y);
            return 0;
        }
        case WM_TIMER:
            if (wParam == kTimer1Id) {
                form_.TimerTick(SaverTimer::Timer1);
            } else if (wParam == kTimer2Id) {
                form_.TimerTick(SaverTimer::Timer2);
            }
            return 0;
        case WM_SYSCOMMAND:
            // No second saver over this one.
            if ((wParam & 0xFFF0) == SC_SCREENSAVE) {
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, static_cast<COLORREF>(kLabelTextColor));
            SetBkColor(dc, RGB(0, 0, 0));
            return reinterpret_cast<LRESULT>(labelBackground_.get());
        }
        case WM_DPICHANGED:
            // Every disc lands elsewhere at the new scale: repaint them all.
            surface_.SetDpi(HIWORD(wParam));
            labelFont_.Apply(label_, HIWORD(wParam));
            PlaceLabel();
            InvalidateRect(window_, nullptr, TRUE);
            return 0;
        case WM_DISPLAYCHANGE:
            CoverScreen();
            return 0;
        case WM_CLOSE:
            DestroyWindow(window_);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void SaverWindow::OnCreate() {
    app_.WindowOpened();
    surface_.Attach(window_);
    label_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                             window_, nullptr, app_.instance(), nullptr);
    if (label_) {
        labelFont_.Apply(label_, surface_.dpi());
        PlaceLabel();
    }
}

void SaverWindow::OnDestroy() {
    KillTimer(window_, kTimer1Id);
    KillTimer(window_, kTimer2Id);
    form_.Unload();
    covers_.clear();
    app_.WindowClosed();
}

void SaverWindow::OnPaint() {
    ScopedPaint paint(window_);
    FillRect(paint.get(), &paint.area(), static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    RECT client{};
    GetClientRect(window_, &client);
    if (EqualRect(&client, &paint.area())) {
        surface_.ForgetDrawn();
    }
    form_.Paint(surface_);
}

void SaverWindow::PlaceLabel() {
    if (!label_) {
        return;
    }
    const UINT dpi = surface_.dpi();
    MoveWindow(label_, TwipsToPixels(kLabelRect.left, dpi), TwipsToPixels(kLabelRect.top, dpi),
               TwipsToPixels(kLabelRect.width, dpi), TwipsToPixels(kLabelRect.height, dpi), TRUE);
}

POINT SaverWindow::ToTwips(POINT client) const {
    const UINT dpi = surface_.dpi();
    return {static_cast<LONG>(std::lround(PixelsToTwips(static_cast<float>(client.x), dpi))),
            static_cast<LONG>(std::lround(PixelsToTwips(static_cast<float>(client.y), dpi)))};
}

POINT SaverWindow::ScreenToTwips(POINT screen) const {
    POINT client = screen;
    if (window_) {
        ScreenToClient(window_, &client);
    }
    return ToTwips(client);
}

void SaverWindow::SetLabelVisible(bool visible) {
    if (label_) {
        ShowWindow(label_, visible ? SW_SHOWNA : SW_HIDE);
    }
}

void SaverWindow::SetLabelCaption(std::string_view caption) {
    if (label_) {
        SetWindowTextW(label_, Widen(caption).c_str());
    }
}

void SaverWindow::CoverScreen() {
    const RECT screen = PrimaryScreen();
    SetWindowPos(window_, nullptr, screen.left, screen.top, screen.right - screen.left,
                 screen.bottom - screen.top, SWP_NOZORDER | SWP_NOACTIVATE);
    covers_.clear();
    ForEachSecondaryMonitor([this](const RECT& monitor) {
        auto cover = std::make_unique<CoverWindow>(app_.instance(), *this);
        if (cover->Create(monitor)) {
            covers_.push_back(std::move(cover));
        }
    });
}

std::int32_t SaverWindow::MakeTopMost() {
    return SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

int SaverWindow::ShowPointer(bool show) {
    return ShowCursor(show ? TRUE : FALSE);
}

std::int32_t SaverWindow::SecondsSinceMidnight() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
}

void SaverWindow::StartTimer(SaverTimer timer, std::uint32_t intervalMs) {
    SetTimer(window_, TimerId(timer), intervalMs, nullptr);
}

void SaverWindow::Close() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

void SaverWindow::FatalMessage(std::string_view text) {
    KillTimer(window_, kTimer1Id);
    KillTimer(window_, kTimer2Id);
    // Top-most and brought forward: a plain box would open behind the full-screen
    // saver, where nobody could see or dismiss it.
    MessageBoxW(window_, Widen(text).c_str(), Widen(kApplicationTitle).c_str(),
                MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
    ExitProcess(0);
}

void SaverWindow::CoverKeyDown() {
    form_.KeyDown();
}

void SaverWindow::CoverMouseDown(POINT screen) {
    const POINT p = ScreenToTwips(screen);
    form_.MouseDown(p.x, p.y);
}

void SaverWindow::CoverMouseMove(POINT screen) {
    const POINT p = ScreenToTwips(screen);
    form_.MouseMove(p.x, p.y);
}

}  // namespace quillomir::win32
