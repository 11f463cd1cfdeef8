// A plain black top-most window over a monitor other than the primary one. The
// crawlet keeps to the primary screen; these only blank the rest, and pass
// their input on so that they close the saver like its own window does.
#pragma once

#include <windows.h>

namespace quillomir::win32 {

class CoverInput {
  public:
    virtual ~CoverInput() = default;

    virtual void CoverKeyDown() = 0;
    // Positions are the pointer's, in screen pixels.
    virtual void CoverMouseDown(POINT screen) = 0;
    virtual void CoverMouseMove(POINT screen) = 0;
};

class CoverWindow {
  public:
    CoverWindow(HINSTANCE instance, CoverInput& input) : instance_(instance), input_(input) {}
    ~CoverWindow();
    CoverWindow(const CoverWindow&) = delete;
    CoverWindow& operator=(const CoverWindow&) = delete;

    bool Create(const RECT& monitor);

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    CoverInput& input_;
    HWND window_ = nullptr;
};

template <typename Sink>
BOOL CALLBACK SecondaryMonitorCallback(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info) && !(info.dwFlags & MONITORINFOF_PRIMARY)) {
        (*reinterpret_cast<Sink*>(data))(info.rcMonitor);
    }
    return TRUE;
}

// Calls sink(rect) with the rectangle of every monitor except the primary one.
template <typename Sink>
void ForEachSecondaryMonitor(Sink sink) {
    EnumDisplayMonitors(nullptr, nullptr, &SecondaryMonitorCallback<Sink>,
                        reinterpret_cast<LPARAM>(&sink));
}

}  // namespace quillomir::win32
