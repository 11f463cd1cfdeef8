#include "x_saver.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "linux/local_time.h"

namespace quillomir::x11 {

namespace {

// Errors about a window that its owner destroyed must not end the program
// through Xlib's default handler; the loop sees DestroyNotify and ends cleanly.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

// The server went away (it ended or dropped the connection): one line, and out
// at once. Nothing can be freed on a connection that is gone, and Xlib's own
// handler would print several lines and end the program from inside a call.
int ConnectionLost(Display* display) {
    std::fprintf(stderr, "quillomir: the X display \"%s\" went away\n", DisplayString(display));
    _exit(1);
}

std::vector<Monitor> Monitors(Display* display, Window root) {
    std::vector<Monitor> monitors;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
        !XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 5)) {
        return monitors;
    }
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(display, root, True, &count);
    for (int i = 0; info != nullptr && i < count; ++i) {
        monitors.push_back(
            {{info[i].x, info[i].y, info[i].width, info[i].height}, info[i].primary != 0});
    }
    if (info != nullptr) {
        XRRFreeMonitors(info);
    }
    return monitors;
}

}  // namespace

double ScreenDpi(Display* display) {
    if (const char* resources = XResourceManagerString(display)) {
        if (const auto dpi = ParseXftDpi(resources)) {
            return *dpi;
        }
    }
    const int screen = DefaultScreen(display);
    return DpiFromScreenSize(DisplayWidth(display, screen), DisplayWidthMM(display, screen));
}

XSaver::XSaver(Display* display, const linux_host::SaverOptions& options, SettingsStore& settings,
               CounterSource& counters, MemorySource& memory)
    : display_(display),
      own_(options.target == linux_host::SaverTarget::OwnWindow),
      settings_(settings),
      counters_(counters),
      memory_(memory) {
    XSetErrorHandler(IgnoreXError);
    XSetIOErrorHandler(ConnectionLost);
    const double dpi = ScreenDpi(display);
    const Window root = DefaultRootWindow(display);
    switch (options.target) {
        case linux_host::SaverTarget::OwnWindow:
            CreateOwnWindow(dpi);
            break;
        case linux_host::SaverTarget::Root:
            // The desktop's own root: its background (the wallpaper) is not
            // ours to change, so the saver paints over it and clears at the end.
            paintOnly_ = true;
            AttachTo(root, dpi);
            break;
        case linux_host::SaverTarget::Window:
            if (!AttachTo(options.windowId, dpi)) {
                char id[32];
                std::snprintf(id, sizeof id, "0x%lx", static_cast<unsigned long>(options.windowId));
                error_ = std::string("there is no window ") + id + " on this display";
            }
            break;
    }
    if (surface_) {
        LoadLabelFont();
        form_ = std::make_unique<frmMain>(*this, *surface_, settings_, counters_, memory_);
    }
}

XSaver::~XSaver() = default;

void XSaver::CreateOwnWindow(double dpi) {
    const int screen = DefaultScreen(display_);
    const Window root = RootWindow(display_, screen);
    const PixelRect whole{0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
    const std::vector<Monitor> monitors = Monitors(display_, root);
    const PixelRect cover = CoveringRect(monitors, whole);
    PixelRect primary = PrimaryMonitor(monitors, whole);
    primary.x -= cover.x;  // into the window's frame
    primary.y -= cover.y;

    // One window over every monitor: black everywhere, the crawlet on the primary.
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display_, screen);
    attributes.override_redirect = True;
    attributes.event_mask =
        ExposureMask | KeyPressMask | ButtonPressMask | PointerMotionMask | StructureNotifyMask;
    ownWindow_ = WindowHandle(
        display_,
        XCreateWindow(display_, root, cover.x, cover.y, static_cast<unsigned>(cover.width),
                      static_cast<unsigned>(cover.height), 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWBackPixel | CWOverrideRedirect | CWEventMask, &attributes));
    window_ = ownWindow_.get();
    XStoreName(display_, window_, kSaverCaption);
    XClassHint hint{const_cast<char*>("quillomir"), const_cast<char*>("Quillomir")};
    XSetClassHint(display_, window_, &hint);

    // An invisible pointer: a 1x1 cursor whose mask shows nothing.
    const char empty[1] = {0};
    const Pixmap bitmap = XCreateBitmapFromData(display_, window_, empty, 1, 1);
    XColor black{};
    blankCursor_ =
        CursorHandle(display_, XCreatePixmapCursor(display_, bitmap, bitmap, &black, &black, 0, 0));
    XFreePixmap(display_, bitmap);

    surface_ = std::make_unique<XSurface>(display_, window_, dpi, primary);
}

bool XSaver::AttachTo(Window target, double dpi) {
    XWindowAttributes attributes{};
    XSync(display_, False);
    if (XGetWindowAttributes(display_, target, &attributes) == 0) {
        return false;
    }
    window_ = target;
    // Only what drawing needs: input stays with the window's owner.
    XSelectInput(display_, window_, ExposureMask | StructureNotifyMask);
    surface_ = std::make_unique<XSurface>(display_, window_, dpi,
                                          PixelRect{0, 0, attributes.width, attributes.height});
    if (!paintOnly_) {
        XSetWindowBackground(display_, window_, BlackPixel(display_, DefaultScreen(display_)));
    }
    Blacken();
    return true;
}

void XSaver::LoadLabelFont() {
    // The toolkit's default for X: an 8-point sans serif at the screen's DPI,
    // or the server's "fixed" font where no scalable or matching one exists.
    const int pixels = static_cast<int>(std::lrint(8.0 * surface_->dpi() / 72.0));
    char name[128];
    std::snprintf(name, sizeof name, "-*-helvetica-medium-r-normal--%d-*-*-*-p-*-iso8859-1",
                  pixels);
    XFontStruct* font = XLoadQueryFont(display_, name);
    if (font == nullptr) {
        font = XLoadQueryFont(display_, "fixed");
    }
    if (font != nullptr) {
        labelFont_ = FontHandle(display_, font);
    }
}

void XSaver::SetLabelVisible(bool visible) {
    if (labelVisible_ && !visible) {
        EraseLabel();  // the shown caption goes, once
    }
    labelVisible_ = visible;
    DrawLabel();
}

void XSaver::SetLabelCaption(std::string_view caption) {
    caption_ = caption;
    DrawLabel();
}

PixelRect XSaver::LabelPixels() const {
    const PixelRect& area = surface_->area();
    return {area.x + surface_->ToPixels(kLabelRect.left),
            area.y + surface_->ToPixels(kLabelRect.top), surface_->ToPixels(kLabelRect.width),
            surface_->ToPixels(kLabelRect.height)};
}

void XSaver::EraseLabel() {
    if (!surface_) {
        return;
    }
    const PixelRect label = LabelPixels();
    GC gc = surface_->gc();
    XSetForeground(display_, gc, surface_->PixelFor(kBlack));
    XFillRectangle(display_, window_, gc, label.x, label.y, static_cast<unsigned>(label.width),
                   static_cast<unsigned>(label.height));
}

void XSaver::DrawLabel() {
    // Hidden, the label has no place on the screen: the discs that cross it
    // stay whole.
    if (!surface_ || !labelVisible_) {
        return;
    }
    EraseLabel();
    if (labelFont_.get() == nullptr) {
        return;
    }
    const PixelRect label = LabelPixels();
    GC gc = surface_->gc();
    // The caption in the rectangle only: text that does not fit is cut off.
    XRectangle clip{static_cast<short>(label.x), static_cast<short>(label.y),
                    static_cast<unsigned short>(label.width),
                    static_cast<unsigned short>(label.height)};
    XSetClipRectangles(display_, gc, 0, 0, &clip, 1, Unsorted);
    XSetFont(display_, gc, labelFont_.get()->fid);
    XSetForeground(display_, gc, surface_->PixelFor(kLabelTextColor));
    XDrawString(display_, window_, gc, label.x, label.y + labelFont_.get()->ascent, caption_.data(),
                static_cast<int>(caption_.size()));
    surface_->SetArea(surface_->area());  // the disc clip again
}

void XSaver::CoverScreen() {
    if (!own_) {
        return;  // a given window keeps its own place and size
    }
    XMapRaised(display_, window_);
    GrabInput();
}

void XSaver::GrabInput() {
    // Override-redirect windows get no focus of their own; the keyboard and
    // pointer are taken so that every key and move reaches the saver.
    for (int attempt = 0; attempt < 20; ++attempt) {
        XSync(display_, False);
        const int keyboard =
            XGrabKeyboard(display_, window_, True, GrabModeAsync, GrabModeAsync, CurrentTime);
        const int pointer = XGrabPointer(
            display_, window_, True, ButtonPressMask | PointerMotionMask, GrabModeAsync,
            GrabModeAsync, None, pointerCount_ < 0 ? blankCursor_.get() : None, CurrentTime);
        if (keyboard == GrabSuccess && pointer == GrabSuccess) {
            return;
        }
        usleep(50 * 1000);  // the window may not be viewable yet
    }
    std::fprintf(stderr, "quillomir: could not take the keyboard and pointer\n");
}

std::int32_t XSaver::MakeTopMost() {
    if (own_) {
        XRaiseWindow(display_, window_);
    }
    return 1;
}

int XSaver::ShowPointer(bool show) {
    pointerCount_ += show ? 1 : -1;
    if (own_) {
        const Cursor cursor = pointerCount_ < 0 ? blankCursor_.get() : None;
        if (cursor == None) {
            XUndefineCursor(display_, window_);
        } else {
            XDefineCursor(display_, window_, cursor);
        }
        XChangeActivePointerGrab(display_, ButtonPressMask | PointerMotionMask, cursor,
                                 CurrentTime);
    }
    return pointerCount_;
}

std::int32_t XSaver::SecondsSinceMidnight() {
    return linux_host::SecondsSinceMidnight();
}

void XSaver::StartTimer(SaverTimer timer, std::uint32_t intervalMs) {
    timers_.Start(timer, intervalMs, linux_host::TimerSchedule::Clock::now());
}

void XSaver::Close() {
    closeRequested_ = true;
}

void XSaver::FatalMessage(std::string_view text) {
    std::fprintf(stderr, "quillomir: %.*s\n", static_cast<int>(text.size()), text.data());
    fatal_ = true;
}

void XSaver::Blacken() {
    const PixelRect& area = surface_->area();
    if (paintOnly_) {
        GC gc = surface_->gc();
        XSetForeground(display_, gc, surface_->PixelFor(kBlack));
        XFillRectangle(display_, window_, gc, area.x, area.y, static_cast<unsigned>(area.width),
                       static_cast<unsigned>(area.height));
    } else if (own_) {
        XClearWindow(display_, window_);
    } else {
        XClearArea(display_, window_, 0, 0, static_cast<unsigned>(area.width),
                   static_cast<unsigned>(area.height), False);
    }
}

void XSaver::Repaint() {
    Blacken();
    DrawLabel();
    form_->Paint(*surface_);
}

void XSaver::Handle(const XEvent& event) {
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) {
                Repaint();
            }
            break;
        case ConfigureNotify:
            if (!own_ && event.xconfigure.window == window_) {
                const PixelRect& area = surface_->area();
                if (area.width != event.xconfigure.width ||
                    area.height != event.xconfigure.height) {
                    surface_->SetArea({0, 0, event.xconfigure.width, event.xconfigure.height});
                }
            }
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == window_) {
                targetGone_ = true;
                if (!own_) {
                    window_ = 0;
                }
            }
            break;
        case KeyPress:
            if (own_) {
                form_->KeyDown();
            }
            break;
        case ButtonPress:
            if (own_) {
                form_->MouseDown(surface_->ToTwipsX(event.xbutton.x),
                                 surface_->ToTwipsY(event.xbutton.y));
            }
            break;
        case MotionNotify:
            if (own_) {
                form_->MouseMove(surface_->ToTwipsX(event.xmotion.x),
                                 surface_->ToTwipsY(event.xmotion.y));
            }
            break;
        default:
            break;
    }
}

int XSaver::Run(linux_host::TerminationSignals& signals) {
    form_->Load();
    if (own_) {
        // Where the pointer stands as the window appears is not a move.
        Window rootReturn = 0, child = 0;
        int rootX = 0, rootY = 0, x = 0, y = 0;
        unsigned mask = 0;
        if (XQueryPointer(display_, window_, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask)) {
            form_->NotePointer(surface_->ToTwipsX(x), surface_->ToTwipsY(y));
        }
    }
    const int xfd = ConnectionNumber(display_);
    bool signalled = false;
    while (!closeRequested_ && !fatal_ && !targetGone_ && !signalled) {
        while (XPending(display_) > 0 && !closeRequested_ && !fatal_ && !targetGone_) {
            XEvent event;
            XNextEvent(display_, &event);
            Handle(event);
        }
        for (const SaverTimer timer : timers_.TakeDue(linux_host::TimerSchedule::Clock::now())) {
            if (!closeRequested_ && !fatal_) {
                form_->TimerTick(timer);
            }
        }
        XFlush(display_);
        if (closeRequested_ || fatal_ || targetGone_) {
            break;
        }
        if (XQLength(display_) > 0) {
            continue;  // a round trip above queued events: poll would not see them
        }
        const linux_host::WaitResult woke = linux_host::WaitForDisplay(
            xfd, signals, timers_.TimeoutMs(linux_host::TimerSchedule::Clock::now()));
        if (woke.failed) {
            break;
        }
        if (woke.hungUp) {
            XPending(display_);  // reads the end of the stream: ConnectionLost reports it
            return 1;
        }
        signalled = woke.terminated;
    }
    if (fatal_) {
        return 1;  // the message is out; the program ends at once
    }
    form_->Unload();
    if (own_) {
        XUngrabPointer(display_, CurrentTime);
        XUngrabKeyboard(display_, CurrentTime);
    }
    if (paintOnly_ && window_ != 0) {
        // The desktop's background again, and its windows told to redraw.
        XClearArea(display_, window_, 0, 0, 0, 0, True);
    }
    XFlush(display_);
    return 0;
}

}  // namespace quillomir::x11
