// The floor for the Linux saver's cost: the least that an Xlib program with the
// same window and timer can do. A black override-redirect window over the whole
// screen, and a poll on the X connection that wakes once a second to flush.
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include "termination_fd.h"

int main() {
    const int signalFd = bench::TerminationSignalFd();

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return 1;
    }
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask;
    const Window window = XCreateWindow(
        display, RootWindow(display, screen), 0, 0,
        static_cast<unsigned>(DisplayWidth(display, screen)),
        static_cast<unsigned>(DisplayHeight(display, screen)), 0, CopyFromParent, InputOutput,
        CopyFromParent, CWBackPixel | CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(display, window);
    XFlush(display);

    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
        pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (poll(fds, 2, 1000) > 0 && (fds[1].revents & POLLIN) != 0) {
            break;
        }
        XFlush(display);
    }
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    close(signalFd);
    return 0;
}
