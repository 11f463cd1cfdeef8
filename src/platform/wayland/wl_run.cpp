#include "wl_run.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wl_object.h"
#include "wl_saver.h"

namespace quillomir::wayland {

int RunSaver(const linux_host::SaverRun& run) {
    // Two connections to the same compositor: the pictures', and input's.
    WlObject<wl_display> picture(wl_display_connect(nullptr));
    WlObject<wl_display> input(picture ? wl_display_connect(nullptr) : nullptr);
    if (!picture || !input) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        const char* folder = std::getenv("XDG_RUNTIME_DIR");
        std::fprintf(
            stderr, "quillomir: cannot connect to the Wayland compositor \"%s\" in \"%s\": %s\n",
            name != nullptr && *name != '\0' ? name : "wayland-0",
            folder != nullptr ? folder : "(XDG_RUNTIME_DIR is not set)", std::strerror(errno));
        return 1;
    }
    WaylandSaver saver(picture.get(), input.get(), run);
    return saver.Run();
}

}  // namespace quillomir::wayland
