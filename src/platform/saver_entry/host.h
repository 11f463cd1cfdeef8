// The host a build of the saver runs itself. The saver is two programs with
// one entry: `quillomir` runs the X11 host, and `quillomir-wayland` the
// Wayland host, so that the X11 saver never maps libwayland-client (which
// would take it over its memory budget). Whichever the user starts, the entry
// picks the display system and, when it is the other one, hands over to the
// sibling program beside it. CMake links one of host_x11.cpp and
// host_wayland.cpp into each.
#pragma once

#include "linux/saver_options.h"
#include "linux/saver_run.h"

namespace quillomir::saver_entry {

struct Host {
    linux_host::DisplaySystem system;  // the one this program runs
    const char* sibling;               // the program that runs the other
    // Called before anything else is set up.
    void (*prepare)();
    int (*run)(const linux_host::SaverRun& run);
};

extern const Host kHost;

}  // namespace quillomir::saver_entry
