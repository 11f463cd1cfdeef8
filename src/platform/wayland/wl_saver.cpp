#include "wl_saver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "linux/local_time.h"

namespace quillomir::wayland {

namespace {

constexpr int kConfigureTimeoutMs = 5000;

}  // namespace

WaylandSaver::WaylandSaver(wl_display* picture, wl_display* input, const linux_host::SaverRun& run)
    : run_(run),
      picture_(picture, *this, false,
               run.options.fullscreen ? CoverShell::Window : CoverShell::Layer),
      input_(input, *this, true, run.options.fullscreen ? CoverShell::None : CoverShell::Layer) {}

WaylandSaver::~WaylandSaver() {
    form_.reset();
    crawletCover_ = nullptr;
    pointerCover_ = nullptr;
    inputs_.clear();
    pictures_.clear();
}

bool WaylandSaver::Fail(const std::string& message) {
    if (!failed_) {
        std::fprintf(stderr, "quillomir: %s\n", message.c_str());
    }
    failed_ = true;
    return false;
}

int WaylandSaver::ScaleOf(const Output& output) const {
    // Buffer scales came with wl_compositor 3.
    const int version = VersionOf(picture_.compositor());
    return version >= WL_SURFACE_SET_BUFFER_SCALE_SINCE_VERSION ? output.size.scale : 1;
}

bool WaylandSaver::WaitForConfigures(Session& session, const Covers& covers) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kConfigureTimeoutMs);
    while (!std::all_of(covers.begin(), covers.end(), [](const auto& cover) {
        return cover->answered() || cover->closed() || cover->endAsked();
    })) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Fail("the Wayland compositor did not place the saver's covers within 5 seconds");
        }
        const Pumped pumped = session.Pump(run_.signals, static_cast<int>(left));
        if (pumped == Pumped::Lost) {
            return Fail(session.ConnectionError());
        }
        if (pumped == Pumped::Terminated) {
            closeRequested_ = true;
            return true;
        }
    }
    return true;
}

int WaylandSaver::Run() {
    std::string error;
    bool terminated = false;
    for (Session* session : {&picture_, &input_}) {
        if (!session->Start(run_.signals, error, terminated)) {
            if (terminated) {
                return 0;
            }
            Fail(error);
            return 1;
        }
    }
    surface_.UseBuffers([shm = picture_.shm()](int width, int height, std::string& why) {
        return std::unique_ptr<FrameBuffer>(ShmBuffer::Create(shm, width, height, true, why));
    });
    // A signal during either wait ends the run at once: the input covers'
    // wait is not started once the pictures' has taken one.
    if (!CoverOutputs() || !WaitForConfigures(picture_, pictures_) ||
        (!closeRequested_ && !WaitForConfigures(input_, inputs_))) {
        return 1;
    }
    if (closeRequested_ || EndAsked()) {
        return 0;  // a signal or a close before anything was shown
    }

    bool signalled = false;
    while (!closeRequested_ && !fatal_ && !failed_ && !signalled) {
        // The pictures' connection: what came back since the last turn (buffers
        // released, sizes), then this turn's frame, sent at once.
        if (picture_.Drain() == Pumped::Lost || !LoadWhenPlaced() || !Present() ||
            !picture_.Flush()) {
            Fail(picture_.ConnectionError());
            break;
        }
        // Until the crawlet has a cover (no output yet), the pictures'
        // connection is read a few times a second for the outputs' news.
        constexpr int kPlacingPollMs = 100;
        const auto timeout = form_ ? timers_.TimeoutMs(linux_host::TimerSchedule::Clock::now())
                                   : std::optional<int>(kPlacingPollMs);
        const Pumped pumped = input_.Pump(run_.signals, timeout);
        if (pumped == Pumped::Lost) {
            Fail(input_.ConnectionError());
            break;
        }
        signalled = pumped == Pumped::Terminated;
        closeRequested_ = closeRequested_ || EndAsked();
        for (const SaverTimer timer : timers_.TakeDue(linux_host::TimerSchedule::Clock::now())) {
            if (!closeRequested_ && !fatal_ && !signalled) {
                form_->TimerTick(timer);
            }
        }
    }
    if (fatal_ || failed_) {
        return 1;  // the message is out; the program ends at once
    }
    if (form_) {
        form_->Unload();
    }
    picture_.Flush();
    input_.Flush();
    return 0;
}

bool WaylandSaver::LoadWhenPlaced() {
    if (form_ || crawletCover_ == nullptr || crawletCover_->closed() ||
        !crawletCover_->configured()) {
        return true;
    }
    form_ = std::make_unique<frmMain>(*this, surface_, run_.settings, run_.counters, run_.memory);
    crawletCover_->RequestPaint();
    if (!Present()) {  // the size the load reads comes from here
        return false;
    }
    form_->Load();
    restartCrawlet_ = false;  // the load has just put it at the centre
    return true;
}

bool WaylandSaver::Present() {
    FollowCovers();
    std::string error;
    for (Covers* covers : {&pictures_, &inputs_}) {
        for (const auto& cover : *covers) {
            if (cover->closed() || !cover->configured() || !cover->TakeNeedsPaint()) {
                continue;
            }
            if (cover.get() != crawletCover_) {
                if (!cover->ShowPlain(error)) {
                    return Fail(error);
                }
                continue;
            }
            // All again on new buffers: the label, then the chain over it, as
            // the X11 saver repaints.
            surface_.Resize(cover->width(), cover->height(), ScaleOf(cover->output()));
            if (restartCrawlet_ && form_) {
                RestartCrawlet();
            }
            surface_.DrawLabel(labelVisible_, caption_);
            if (form_) {
                form_->Paint(surface_);
            }
        }
    }
    if (crawletCover_ == nullptr || crawletCover_->closed()) {
        return true;  // drawing waits for a cover; a new one is repainted whole
    }
    if (surface_.overflowed()) {
        crawletCover_->RequestPaint();  // shown whole again on the next turn
    }
    if (crawletCover_->configured()) {
        if (const auto frame = surface_.TakeFrame(error)) {
            crawletCover_->ShowFrame(*frame, surface_.scale());
        } else if (!error.empty()) {
            return Fail(error);
        }
    }
    return true;
}

void WaylandSaver::SetLabelVisible(bool visible) {
    labelVisible_ = visible;
    surface_.DrawLabel(labelVisible_, caption_);
}

void WaylandSaver::SetLabelCaption(std::string_view caption) {
    caption_ = caption;
    surface_.DrawLabel(labelVisible_, caption_);
}

int WaylandSaver::ShowPointer(bool show) {
    pointerCount_ += show ? 1 : -1;
    if (!show && pointerCount_ < 0 && pointer_ != nullptr) {
        wl_pointer_set_cursor(pointer_, enterSerial_, nullptr, 0, 0);
    }
    return pointerCount_;
}

std::int32_t WaylandSaver::SecondsSinceMidnight() {
    return linux_host::SecondsSinceMidnight();
}

void WaylandSaver::StartTimer(SaverTimer timer, std::uint32_t intervalMs) {
    timers_.Start(timer, intervalMs, linux_host::TimerSchedule::Clock::now());
}

void WaylandSaver::FatalMessage(std::string_view text) {
    std::fprintf(stderr, "quillomir: %.*s\n", static_cast<int>(text.size()), text.data());
    fatal_ = true;
}

std::pair<std::int32_t, std::int32_t> WaylandSaver::Twips(double x, double y) const {
    // Another output's position in the crawlet output's frame, by the layout
    // (both connections see the same layout).
    double left = x, top = y;
    if (pointerCover_ != nullptr && crawletCover_ != nullptr) {
        left += pointerCover_->output().x - crawletCover_->output().x;
        top += pointerCover_->output().y - crawletCover_->output().y;
    }
    return {CrawletSurface::ToTwips(left), CrawletSurface::ToTwips(top)};
}

Cover* WaylandSaver::InputCoverOf(const wl_surface* surface) const {
    // A picture takes input only as a window (--fullscreen); a layer-shell
    // picture lets the pointer through, so it is never named here.
    for (const Covers* covers : {&inputs_, &pictures_}) {
        for (const auto& cover : *covers) {
            if (cover->surface() == surface) {
                return cover.get();
            }
        }
    }
    return nullptr;
}

bool WaylandSaver::EndAsked() const {
    return std::any_of(pictures_.begin(), pictures_.end(),
                       [](const auto& cover) { return cover->endAsked(); });
}

void WaylandSaver::PointerEntered(wl_pointer* pointer, std::uint32_t serial, wl_surface* surface,
                                  double x, double y) {
    pointer_ = pointer;
    enterSerial_ = serial;
    if (pointerCount_ < 0) {
        wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
    }
    pointerCover_ = InputCoverOf(surface);
    if (!form_ || pointerCover_ == nullptr) {
        return;
    }
    pointerAt_ = Twips(x, y);
    if (!pointerSeen_) {
        pointerSeen_ = true;  // where the pointer stands as the covers appear is not a move
        form_->NotePointer(pointerAt_.first, pointerAt_.second);
    } else {
        form_->MouseMove(pointerAt_.first, pointerAt_.second);  // onto another output's cover
    }
}

void WaylandSaver::PointerMoved(double x, double y) {
    if (form_ && pointerCover_ != nullptr) {
        pointerAt_ = Twips(x, y);
        form_->MouseMove(pointerAt_.first, pointerAt_.second);
    }
}

void WaylandSaver::PointerPressed() {
    if (form_ && pointerCover_ != nullptr) {
        form_->MouseDown(pointerAt_.first, pointerAt_.second);
    }
}

void WaylandSaver::Touched(wl_surface* surface, double x, double y) {
    // A tap is a click where it lands, as Windows makes one.
    Cover* touched = InputCoverOf(surface);
    if (form_ && touched != nullptr) {
        pointerCover_ = touched;
        pointerAt_ = Twips(x, y);
        form_->MouseDown(pointerAt_.first, pointerAt_.second);
    }
}

void WaylandSaver::KeyPressed() {
    if (form_) {
        form_->KeyDown();
    }
}

}  // namespace quillomir::wayland
