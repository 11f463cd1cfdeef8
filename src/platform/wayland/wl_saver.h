// Run mode on Wayland: hosts frmMain on covers over every output, the crawlet
// on one of them (the first the compositor lists, or --output NAME), the
// others black. Input as on X11: a key, a button, a wheel turn or the sixth
// pointer move ends it, and a touch as a click; SIGTERM and SIGINT end it
// cleanly.
//
// Outputs come and go while it runs (a monitor switched off, a dock): each
// new one is covered, a cover the compositor closes over an output that is
// still there is made again, and with no output at all the saver waits. The
// crawlet starts afresh at the centre of the output it moves to, and comes
// back to the output --output names when that one returns.
//
// Two connections, so that the saver wakes once a tick and on input, never
// for the compositor's answers to its frames: the pictures live on one, read
// once a tick (a frame's buffer comes back while the saver sleeps, and waits
// in the socket); the transparent input covers live on the other, which the
// one poll watches beside the signals, with the timers' timeout.
//
// With --fullscreen, one full-screen window on each output is both picture
// and input cover, and both sessions share one connection, so that the
// seat's events name the windows' surfaces. A close request from the
// compositor ends the run as a key does.
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
    // Loads the form once the crawlet has a cover with a size to read; false on failure.
    bool LoadWhenPlaced();
    Covers& CoversOf(const Output& output);
    void Drop(Covers& covers, Cover* cover);
    // Moves the crawlet off a closed cover, or back to the --output one, and
    // makes covers again that the compositor closed while their output stayed.
    void FollowCovers();
    void RenewClosed();
    Cover* BestPicture() const;  // the --output one, else the first; shown, not closed
    // The crawlet on `cover` (or nowhere); started afresh where its output changes.
    void PlaceCrawlet(Cover* cover);
    void RestartCrawlet();  // on the surface as just resized
    bool Wanted(const Output& output) const;
    int ScaleOf(const Output& output) const;
    // Shows what changed: new sizes, closed covers, the crawlet's frame.
    bool Present();
    Cover::Kind PictureKind() const {
        return run_.options.fullscreen ? Cover::Kind::Window : Cover::Kind::Picture;
    }
    // The cover whose surface the seat names, where it is one that takes input.
    Cover* InputCoverOf(const wl_surface* surface) const;
    bool EndAsked() const;  // a window was asked to close
    // Pointer position on the cover entered last, in the crawlet's twips.
    std::pair<std::int32_t, std::int32_t> Twips(double x, double y) const;

    const linux_host::SaverRun& run_;
    Session picture_;
    Session input_;
    Covers pictures_;
    Covers inputs_;
    Cover* crawletCover_ = nullptr;
    bool restartCrawlet_ = false;  // at the centre of its cover, at the next paint
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
