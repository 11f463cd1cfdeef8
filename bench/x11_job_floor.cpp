// The same-job floor for the Linux saver on X11: the floor window, plus what
// the saver's job needs at the least: a wake once a second, the load read from
// /proc every ten seconds, and two disc-sized areas drawn a second (the old
// disc put out in black, a new one drawn in colour).
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include "proc_job.h"
#include "termination_fd.h"

int main() {
    const int signalFd = bench::TerminationSignalFd();
    const int timerFd = bench::OneSecondTimer();

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr || timerFd < 0) {
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask;
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWBackPixel | CWOverrideRedirect | CWEventMask, &attributes);
    GC gc = XCreateGC(display, window, 0, nullptr);
    XMapRaised(display, window);
    XFlush(display);

    constexpr int d = bench::kDiscDiameter;
    unsigned wake = 0;
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
        pollfd fds[3] = {
            {ConnectionNumber(display), POLLIN, 0}, {signalFd, POLLIN, 0}, {timerFd, POLLIN, 0}};
        if (poll(fds, 3, -1) > 0 && (fds[1].revents & POLLIN) != 0) {
            break;
        }
        if ((fds[2].revents & POLLIN) == 0 || !bench::TimerFired(timerFd)) {
            continue;
        }
        ++wake;
        bench::SampleLoad(wake);
        const auto old = bench::PlaceOf(wake - 1, width, height, d);
        const auto now = bench::PlaceOf(wake, width, height, d);
        XSetForeground(display, gc, BlackPixel(display, screen));
        XFillArc(display, window, gc, old.x, old.y, d, d, 0, 360 * 64);
        XSetForeground(display, gc, 0x00c0ff);
        XFillArc(display, window, gc, now.x, now.y, d, d, 0, 360 * 64);
        XDrawArc(display, window, gc, now.x, now.y, d - 1, d - 1, 0, 360 * 64);
        XFlush(display);
    }
    XFreeGC(display, gc);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    close(timerFd);
    close(signalFd);
    return 0;
}
