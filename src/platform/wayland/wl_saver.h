// Run mode on Wayland: hosts frmMain on covers over every output, the crawlet
// on one of them (the first the compositor lists, or --output NAME), the
// others black. Input as on X11: a key, a button, a wheel turn or the sixth
// pointer move ends it, and a touch as a click; SIGTERM and SIGINT end it
// cleanly.
//
// Two connections, so that the saver wakes once a tick and on input, never
// for the compositor's answers to its frames: the pictures live on one, read
// once a tick (a frame's buffer comes back while the saver sleeps, and waits
// in the socket); the transparent input covers live on the other, which the
// one poll watches beside the signals, with the timers' timeout.
#pragma once

#include <wayland-client.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cover.h"
#include "crawlet_surface.h"
#include "linux/saver_run.h"
#include "linux/timer_schedule.h"
#include "saver/frm_main.h"
#include "saver/saver_host.h"
#include "wl_session.h"

namespace quillomir::wayland {

class WaylandSaver : public SaverHost, public SessionEvents {
  public:
    WaylandSaver(wl_display* picture, wl_display* input, const linux_host::SaverRun& run);
    ~WaylandSaver() override;
    WaylandSaver(const WaylandSaver&) = delete;
    WaylandSaver& operator=(const WaylandSaver&) = delete;

    // Covers the outputs, loads the form and runs until input, a signal or a
    // failure; the exit status. Failures are reported on stderr.
    int Run();

    // SaverHost
    void SetLabelVisible(bool visible) override;
    void SetLabelCaption(std::string_view caption) override;
    void CoverScreen() override {}                     // the covers are up before the load
    std::int32_t MakeTopMost() override { return 1; }  // the overlay layer
    int ShowPointer(bool show) override;
    std::int32_t SecondsSinceMidnight() override;
    void StartTimer(SaverTimer timer, std::uint32_t intervalMs) override;
    void Close() override { closeRequested_ = true; }
    void FatalMessage(std::string_view text) override;

    // SessionEvents
    void OutputReady(Output& output) override;
    void OutputChanged(Output& output) override;
    void OutputGone(Output& output) override;
    void PointerEntered(wl_pointer* pointer, std::uint32_t serial, wl_surface* surface, double x,
                        double y) override;
    void PointerMoved(double x, double y) override;
    void PointerPressed() override;
    void KeyPressed() override;
    void Touched(wl_surface* surface, double x, double y) override;

  private:
    using Covers = std::vector<std::unique_ptr<Cover>>;

    bool Fail(const std::string& message);
    bool CoverOutputs();
    bool WaitForConfigures(Session& session, const Covers& covers);
    void Drop(Covers& covers, Cover* cover);
    int ScaleOf(const Output& output) const;
    // Shows what changed: new sizes, closed covers, the crawlet's frame.
    bool Present();
    // Pointer position on the cover entered last, in the crawlet's twips.
    std::pair<std::int32_t, std::int32_t> Twips(double x, double y) const;

    const linux_host::SaverRun& run_;
    Session picture_;
    Session input_;
    Covers pictures_;
    Covers inputs_;
    Cover* crawletCover_ = nullptr;
    CrawletSurface surface_;
    std::unique_ptr<frmMain> form_;
    linux_host::TimerSchedule timers_;
    bool labelVisible_ = false;
    std::string caption_;
    int pointerCount_ = 0;
    wl_pointer* pointer_ = nullptr;  // the pointer that entered last, and the entry's serial
    std::uint32_t enterSerial_ = 0;
    Cover* pointerCover_ = nullptr;
    std::pair<std::int32_t, std::int32_t> pointerAt_{-1, -1};  // twips
    bool pointerSeen_ = false;
    bool closeRequested_ = false;
    bool fatal_ = false;
    bool failed_ = false;
};

}  // namespace quillomir::wayland
