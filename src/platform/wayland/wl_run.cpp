#include "wl_run.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "wl_object.h"
#include "wl_saver.h"

namespace quillomir::wayland {

int RunSaver(const linux_host::SaverRun& run) {
    // Two connections to the same compositor: the pictures', and input's
    // (see wl_saver.h). A compositor that hands its client one connected
    // socket (WAYLAND_SOCKET: a nested compositor, a locker that hosts
    // clients) gives no way to open a second one to it, and libwayland
    // forgets the variable once it has taken the socket: the pictures and
    // input share that one connection then, which only costs a wake-up for
    // each buffer the compositor gives back. --fullscreen's windows take
    // input themselves: one connection, so that the seat's events name them.
    const char* handed = std::getenv("WAYLAND_SOCKET");
    const std::string socket = handed != nullptr ? handed : "";
    const bool shared = !socket.empty() || run.options.fullscreen;
    errno = 0;
    WlObject<wl_display> picture(wl_display_connect(nullptr));
    WlObject<wl_display> input(picture && !shared ? wl_display_connect(nullptr) : nullptr);
    if (!picture || (!input && !shared)) {
        const int error = errno;
        if (!socket.empty()) {
            std::fprintf(stderr,
                         "quillomir: cannot use the Wayland connection handed over in "
                         "WAYLAND_SOCKET (\"%s\"): %s\n",
                         socket.c_str(),
                         error != 0 ? std::strerror(error) : "not a descriptor's number");
            return 1;
        }
        const char* name = std::getenv("WAYLAND_DISPLAY");
        const char* folder = std::getenv("XDG_RUNTIME_DIR");
        std::fprintf(
            stderr, "quillomir: cannot connect to the Wayland compositor \"%s\" in \"%s\": %s\n",
            name != nullptr && *name != '\0' ? name : "wayland-0",
            folder != nullptr ? folder : "(XDG_RUNTIME_DIR is not set)", std::strerror(error));
        return 1;
    }
    WaylandSaver saver(picture.get(), input ? input.get() : picture.get(), run);
    return saver.Run();
}

}  // namespace quillomir::wayland
