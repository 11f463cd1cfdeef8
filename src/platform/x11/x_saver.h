// Run mode on X11: hosts frmMain on a window of its own (black, over every
// monitor, without a pointer, closing on input) or on a window that a screen
// saver or locker gives it (drawing only; SIGTERM or SIGINT ends it). One
// poll on the X connection and a signal descriptor, with the timers' timeout.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

#include "linux/display_wait.h"
#include "linux/saver_options.h"
#include "linux/termination_signals.h"
#include "linux/timer_schedule.h"
#include "measure/counter_source.h"
#include "saver/frm_main.h"
#include "saver/saver_host.h"
#include "settings/settings_store.h"
#include "x_handles.h"
#include "x_surface.h"

namespace quillomir::x11 {

class XSaver : public SaverHost {
  public:
    // Fails (with a message in `error()`) when the target window does not exist.
    XSaver(Display* display, const linux_host::SaverOptions& options, SettingsStore& settings,
           CounterSource& counters, MemorySource& memory);
    ~XSaver() override;
    XSaver(const XSaver&) = delete;
    XSaver& operator=(const XSaver&) = delete;

    bool ready() const { return surface_ != nullptr; }
    const std::string& error() const { return error_; }

    // Loads the form and runs until input, a signal or the target's end; the exit status.
    int Run(linux_host::TerminationSignals& signals);

    // SaverHost
    void SetLabelVisible(bool visible) override;
    void SetLabelCaption(std::string_view caption) override;
    void CoverScreen() override;
    std::int32_t MakeTopMost() override;
    int ShowPointer(bool show) override;
    std::int32_t SecondsSinceMidnight() override;
    void StartTimer(SaverTimer timer, std::uint32_t intervalMs) override;
    void Close() override;
    void FatalMessage(std::string_view text) override;

  private:
    void CreateOwnWindow(double dpi);
    bool AttachTo(Window target, double dpi);
    void Handle(const XEvent& event);
    void Blacken();
    void Repaint();
    PixelRect LabelPixels() const;
    void EraseLabel();
    void DrawLabel();
    void LoadLabelFont();
    void GrabInput();

    Display* display_;
    bool own_;
    bool paintOnly_ = false;  // the desktop's root: painted, its attributes left alone
    std::string error_;
    WindowHandle ownWindow_;  // only when the window is the saver's own
    Window window_ = 0;
    std::unique_ptr<XSurface> surface_;
    CursorHandle blankCursor_;
    FontHandle labelFont_;
    std::unique_ptr<frmMain> form_;
    linux_host::TimerSchedule timers_;
    std::string caption_;
    bool labelVisible_ = false;
    int pointerCount_ = 0;
    bool closeRequested_ = false;
    bool fatal_ = false;
    bool targetGone_ = false;
    SettingsStore& settings_;
    CounterSource& counters_;
    MemorySource& memory_;
};

// The screen's DPI for twips: Xft.dpi when set, else the screen's size.
double ScreenDpi(Display* display);

}  // namespace quillomir::x11
